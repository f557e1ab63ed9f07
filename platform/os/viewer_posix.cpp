#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/os/viewer.h"

namespace platform {

namespace {

ViewerHandler viewerHandler = nullptr;

}  // namespace

bool OpenInViewer(const std::string& path) {
  if (viewerHandler != nullptr) return viewerHandler(path);
  // xdg-open may wait for the browser it starts: a grandchild runs it, so the
  // window neither waits nor leaves a process to collect. The pipe closes on
  // a successful exec and carries errno when the exec fails.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(path.c_str()), nullptr};
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    // An exec or a fork that fails says why; either way this child leaves.
    const pid_t grandchild = fork();
    if (grandchild > 0) _exit(0);
    if (grandchild == 0) execvp(argv[0], argv);
    const int error = errno;
    (void)!write(report[1], &error, sizeof error);
    _exit(0);
  }
  close(report[1]);
  int error = 0;
  ssize_t got = 0;
  if (child > 0) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
  }
  close(report[0]);
  return child > 0 && got == 0;
}

void SetViewerHandler(ViewerHandler handler) {
  viewerHandler = handler;
}

std::string ViewerFolder() {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  return ec ? std::string("/tmp") : dir.string();
}

}  // namespace platform
