#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/os/os.h"

namespace platform {

// Linux lets each timed wait of an ordinary thread end up to 50 us late, to
// gather wake-ups; on the 1 ms pause of every block that is several percent
// of the pause. Once a thread is enough.
void KeepTimersPrecise() {
#if defined(__linux__)
  thread_local const bool precise = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  (void)precise;
#endif
}

void SleepMs(unsigned ms) {
  KeepTimersPrecise();
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t MonotonicMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t ProcessCpuMicros() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000 +
         usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

bool RaiseThreadPriority() {
  // Linux gives each thread its own nice value; two steps up mirrors
  // Windows' "highest", which is two above normal.
  const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, thread);
  if (errno != 0) return false;
  return setpriority(PRIO_PROCESS, thread, nice - 2) == 0;
}

bool WindowProgramHasConsole() {
  return true;
}

std::string NativeCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string line(std::istreambuf_iterator<char>(in), {});
  while (!line.empty() && line.back() == '\0') line.pop_back();
  for (char& c : line) {
    if (c == '\0') c = ' ';
  }
  return line;
}

std::string ExecutableBaseName() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "kw9";
  const std::string full(path, static_cast<size_t>(n));
  // Linux programs carry no extension: a dot is part of the name ("kw9-1.2").
  return full.substr(full.rfind('/') + 1);
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

namespace {
volatile sig_atomic_t interruptRaised = 0;

void OnInterrupt(int) {
  interruptRaised = 1;
}
}  // namespace

void CatchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  // Once only: the next Ctrl-C ends a program that waits on a silent line.
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A closed terminal or an ended SSH session is one more way of being
  // stopped: the download keeps what arrived, as on Ctrl-C.
  sigaction(SIGHUP, &sa, nullptr);
  // A reader that went away is a failed write (EPIPE), which the program
  // reports, not a death with the work's report unsaid.
  signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() {
  return interruptRaised != 0;
}

bool AppendToFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  // One write with O_APPEND lands whole at the end, whatever other
  // processes append meanwhile.
  ssize_t n = -1;
  do {
    n = write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  const bool ok = n == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

ReplacementPlan PlanReplacement(const std::string& path) {
  ReplacementPlan plan;
  plan.target = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    // A link to nothing is written through, as a plain open would.
    struct stat link {};
    plan.direct = lstat(path.c_str(), &link) == 0;
    return plan;
  }
  if (!S_ISREG(st.st_mode)) {
    plan.direct = true;
    return plan;
  }
  plan.writable = access(path.c_str(), W_OK) == 0;
  // Renaming over a link would replace the link, not the file it names.
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) plan.target = resolved;
  return plan;
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(getpid());
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::FILE* CreateNewFile(const std::string& path, const std::string& like) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (stat(like.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    unlink(path.c_str());
  }
  return file;
}

bool SyncFile(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform
