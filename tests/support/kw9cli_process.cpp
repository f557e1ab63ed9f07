#include "tests/support/kw9cli_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <utility>

extern char** environ;

namespace testing_support {

namespace {

// Splits err into its progress lines and the rest.
std::pair<std::string, std::string> SplitProgress(const std::string& err) {
  static const std::regex progress(R"( *\d+% \d+\.\d/\d+\.\d kB( \d+\.\d\d kB/s [\d:]+ left)?)");
  std::string lines, rest;
  size_t from = 0;
  while (from < err.size()) {
    const size_t end = err.find('\n', from);
    const size_t next = end == std::string::npos ? err.size() : end + 1;
    const std::string line = err.substr(from, next - from);
    const std::string text = line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
    (std::regex_match(text, progress) ? lines : rest) += line;
    from = next;
  }
  return {lines, rest};
}

}  // namespace

std::string ProgressLines(const std::string& err) {
  return SplitProgress(err).first;
}

std::string WithoutProgress(const std::string& err) {
  return SplitProgress(err).second;
}

CliRun Kw9cli(const ScratchDir& dir, const std::string& arguments) {
  const std::string out = dir / "cli.out", err = dir / "cli.err";
  const int raw = std::system(("cd '" + dir.Path() + "' && " + KW9_KW9CLI + " " + arguments + " >" +
                               out + " 2>" + err + " </dev/null")
                                  .c_str());
  const std::string all = Slurp(err);
  CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), WithoutProgress(all),
             ProgressLines(all)};
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
