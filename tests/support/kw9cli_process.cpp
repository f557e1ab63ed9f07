#include "tests/support/kw9cli_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace testing_support {

CliRun Kw9cli(const ScratchDir& dir, const std::string& arguments) {
  const std::string out = dir / "cli.out", err = dir / "cli.err";
  const int raw = std::system(("cd '" + dir.Path() + "' && " + KW9_KW9CLI + " " + arguments + " >" +
                               out + " 2>" + err + " </dev/null")
                                  .c_str());
  CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

pid_t StartKw9cli(const std::vector<std::string>& args, const std::string& out,
                  const std::string& err, int errFd) {
  std::vector<std::string> words = {KW9_KW9CLI};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (errFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace testing_support
