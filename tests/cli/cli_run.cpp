#include "cli_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace velumar::testing {

CliRun Cli(const TempDir &dir, std::vector<std::string> args, const CliIo &io)
{
    const std::string out = io.stdout_path.empty() ? (dir.path() / "stdout").string() : io.stdout_path;
    const std::string err = (dir.path() / "stderr").string();
    const std::string in = io.stdin_path.empty() ? "/dev/null" : io.stdin_path;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!io.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, io.cwd.c_str());
    args.insert(args.begin(), VELUMAR_CLI_PATH);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    CliRun run;
    if (posix_spawn(&pid, VELUMAR_CLI_PATH, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    if (io.stdout_path.empty()) run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
}

} // namespace velumar::testing
