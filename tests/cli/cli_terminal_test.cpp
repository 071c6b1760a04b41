// velumar-cli with its standard error on a pseudo-terminal, as a user at a
// terminal sees it: the progress bar's lines, and what an interruption
// leaves behind.
#include "test_wav.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velumar::testing;

namespace {

constexpr char kClearLine[] = "\r\x1b[2K";

struct TerminalRun {
    std::string terminal;  // everything written to the terminal (standard error)
    int status = 0;        // as waitpid gives it
};

// Runs velumar-cli with standard error on a new pseudo-terminal and standard
// output on /dev/null. `on_output` is called with what the terminal has shown
// so far whenever more arrives, and with the child's pid.
template <typename OnOutput>
TerminalRun RunOnTerminal(std::vector<std::string> args, OnOutput on_output)
{
    TerminalRun run;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0) ::_exit(127);
        args.insert(args.begin(), VELUMAR_CLI_PATH);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(VELUMAR_CLI_PATH, argv.data());
        ::_exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "forkpty failed";
        return run;
    }
    // Read until the terminal closes (EIO once the child is gone); a run that
    // takes more than a minute is a hang.
    char buffer[4096];
    for (int waited_ms = 0; waited_ms < 60000;) {
        pollfd p{master, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready == 0) {
            waited_ms += 100;
            continue;
        }
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        run.terminal.append(buffer, static_cast<std::size_t>(n));
        on_output(run.terminal, pid);
    }
    ::close(master);
    if (::waitpid(pid, &run.status, 0) != pid) ADD_FAILURE() << "no status of the child";
    return run;
}

// The bars drawn, each as it was written after its carriage return.
std::vector<std::string> Bars(const std::string &terminal)
{
    std::vector<std::string> bars;
    for (std::size_t at = terminal.find("\rРасчёт ["); at != std::string::npos;
         at = terminal.find("\rРасчёт [", at + 1)) {
        const std::size_t end = terminal.find('%', at);
        if (end == std::string::npos) break;
        bars.push_back(terminal.substr(at + 1, end - at));
    }
    return bars;
}

class TerminalTest : public ::testing::Test {
protected:
    std::string Pair(std::uint32_t frames)
    {
        WavSpec format;
        format.channels = 2;
        const auto ref = MusicSignal(frames, 2);
        reference_ = dir_.Write("ref.wav", WavFile(format, ref));
        return dir_.Write("test.wav", WavFile(format, AddNoise(ref, 100.0)));
    }

    TempDir dir_;
    std::string reference_;
};

TEST_F(TerminalTest, ProgressBarGrowsToTheFullAndIsClearedBeforeTheReport)
{
    const std::string test = Pair(4 * 48000);
    // A small step: many progress events, so several bars are drawn.
    const TerminalRun run = RunOnTerminal({"--step", "512", reference_, test}, [](const std::string &, pid_t) {});
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.terminal;

    const std::vector<std::string> bars = Bars(run.terminal);
    ASSERT_GE(bars.size(), 2u) << run.terminal;
    int last = -1;
    for (const std::string &bar : bars) {
        // "Расчёт [" 30 cells "] " percent "%", the cells filled in proportion.
        const std::size_t open = bar.find('['), close = bar.find(']');
        ASSERT_EQ(close - open - 1, 30u) << bar;
        const int percent = std::stoi(bar.substr(close + 2));
        const std::string cells = bar.substr(open + 1, 30);
        EXPECT_EQ(cells, std::string(static_cast<std::size_t>(percent * 30 / 100), '#') +
                             std::string(static_cast<std::size_t>(30 - percent * 30 / 100), '.'));
        EXPECT_GE(percent, last) << bar;
        last = percent;
    }
    EXPECT_EQ(last, 100);
    // The last bar is wiped, and nothing follows but the model's line(s).
    const std::size_t clear = run.terminal.rfind(kClearLine);
    ASSERT_NE(clear, std::string::npos) << run.terminal;
    EXPECT_GT(clear, run.terminal.rfind("100%"));
    EXPECT_EQ(run.terminal.find('\r', clear + 1), std::string::npos);
}

TEST_F(TerminalTest, InterruptedRunClearsItsBarAndEndsByTheSignal)
{
    const std::string test = Pair(60 * 48000);
    for (const int signal_number : {SIGINT, SIGTERM}) {
        bool sent = false;
        const TerminalRun run = RunOnTerminal({"--step", "64", reference_, test}, [&](const std::string &seen, pid_t pid) {
            if (!sent && seen.find("\rРасчёт [") != std::string::npos) {
                ::kill(pid, signal_number);
                sent = true;
            }
        });
        ASSERT_TRUE(sent) << "no progress bar was drawn: " << run.terminal;
        // Ended by the signal itself: a shell reports 128 + its number.
        ASSERT_TRUE(WIFSIGNALED(run.status)) << run.terminal;
        EXPECT_EQ(WTERMSIG(run.status), signal_number);
        EXPECT_TRUE(run.terminal.ends_with(kClearLine)) << run.terminal;
        EXPECT_EQ(run.terminal.find("100%"), std::string::npos) << "the run was not interrupted";
    }
}

} // namespace
