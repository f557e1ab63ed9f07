#include "tests/support/trackersim_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

TrackersimProcess::TrackersimProcess(const std::vector<std::string>& options) {
  int out[2];
  if (pipe(out) != 0) return;
  std::vector<std::string> words = {KW9_TRACKERSIM};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  // The first line of its output is the device; give it a few seconds.
  pollfd p{out[0], POLLIN, 0};
  char c = 0;
  while (pid_ > 0 && poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
    device_.push_back(c);
  }
  close(out[0]);
}

TrackersimProcess::~TrackersimProcess() {
  Stop();
}

int TrackersimProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int SettingsWrites(const std::string& transcript) {
  int writes = 0;
  for (size_t i = 0; i + 2 < transcript.size(); ++i) {
    if (transcript[i] == 'Y') ++writes, i += 2;
  }
  return writes;
}

}  // namespace testing_support
