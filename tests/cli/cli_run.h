// velumar-cli run as a separate process, the way a user or a script runs
// it: shared by the command-line tests that need the real program.
#pragma once

#include "test_wav.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velumar::testing {

struct CliRun {
    int code = -1;  // exit code; 128 + the signal's number when a signal ended it
    std::string out;
    std::string err;
};

// Where a run reads and writes besides its arguments; empty: the defaults.
struct CliIo {
    std::string stdin_path;   // default: nothing (/dev/null)
    std::string stdout_path;  // default: a file read back into CliRun::out
    std::string cwd;          // default: the test's own
};

// Runs velumar-cli with `args`, its output captured in files inside `dir`.
CliRun Cli(const TempDir &dir, std::vector<std::string> args, const CliIo &io = {});

} // namespace velumar::testing
