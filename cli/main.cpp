// velumar-cli: grades a test WAV file against its reference from the
// command line. See `velumar-cli --help`.
#include <velumar/cli/cli.h>

int main(int argc, char **argv)
{
    return velumar::cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
