#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#if defined(__linux__)
#include <sys/prctl.h>
#include <sys/sysmacros.h>
#endif
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool BackslashSeparatesFolders() {
  return false;
}

namespace {
volatile sig_atomic_t interruptRaised = 0;

// The temporary files a killing interrupt removes. Fixed slots, so that the
// handler touches no allocation: a slot is claimed (1), filled, then armed (2).
constexpr int kKilledFileSlots = 16;
std::atomic<int> killedFileState[kKilledFileSlots];
char killedFilePath[kKilledFileSlots][PATH_MAX];

void OnInterrupt(int signal) {
  if (interruptRaised == 0) {
    interruptRaised = 1;
    return;
  }
  // The second one: the command had its chance to end cleanly. Its
  // temporary files go, then the process ends the system's default way.
  for (int i = 0; i < kKilledFileSlots; ++i) {
    if (killedFileState[i].load() == 2) unlink(killedFilePath[i]);
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}
}  // namespace

int RemoveWhenKilled(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kKilledFileSlots; ++i) {
    int free = 0;
    if (!killedFileState[i].compare_exchange_strong(free, 1)) continue;
    std::memcpy(killedFilePath[i], path.c_str(), path.size() + 1);
    killedFileState[i].store(2);
    return i;
  }
  return -1;
}

void KeepWhenKilled(int slot) {
  if (slot >= 0 && slot < kKilledFileSlots) killedFileState[slot].store(0);
}

void CatchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  // The handler counts: the next Ctrl-C ends a program that waits on a
  // silent line, less its temporary files.
  sa.sa_flags = 0;
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

namespace {

// errno as the reason of a call that just failed; false, for the return.
bool Errno(std::error_code* error) {
  if (error != nullptr) *error = std::error_code(errno, std::generic_category());
  return false;
}

}  // namespace

bool AppendToFile(const std::string& path, const std::string& text, std::error_code* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Errno(error);
  // One write with O_APPEND lands whole at the end, whatever other
  // processes append meanwhile.
  ssize_t n = -1;
  do {
    n = write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  bool ok = true;
  if (n >= 0 && n < static_cast<ssize_t>(text.size())) {
    // A short write sets no errno: the disk had no room for the rest.
    if (error != nullptr) *error = std::make_error_code(std::errc::no_space_on_device);
    ok = false;
  } else if (n < 0 || fsync(fd) != 0) {
    ok = Errno(error);
  }
  if (close(fd) != 0 && ok) ok = Errno(error);
  return ok;
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
  if (!plan.writable) Errno(&plan.whyNotWritable);
  // Renaming over a link would replace the link, not the file it names.
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) plan.target = resolved;
  return plan;
}

namespace {

// A character device is a terminal when the kernel files it under tty; a
// pseudo-terminal's slave side has no entry there. Elsewhere, and for those,
// the device is asked, opened for reading only and without becoming the
// controlling terminal, so that not a byte is written to it.
bool IsTerminalDevice(const std::string& path, const struct stat& st) {
#if defined(__linux__)
  const unsigned major = ::major(st.st_rdev);
  if (major >= 136 && major <= 143) return true;  // pseudo-terminal slaves
  char link[PATH_MAX];
  const std::string sys = "/sys/dev/char/" + std::to_string(major) + ":" +
                          std::to_string(::minor(st.st_rdev)) + "/subsystem";
  const ssize_t n = readlink(sys.c_str(), link, sizeof link - 1);
  if (n > 0) {
    const std::string subsystem(link, static_cast<size_t>(n));
    return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
  }
#else
  (void)st;
#endif
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;  // held exclusively: only ports are
  const bool terminal = isatty(fd) == 1;
  close(fd);
  return terminal;
}

}  // namespace

PathKind KindOfPath(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return PathKind::kPipe;
  if (S_ISCHR(st.st_mode)) {
    struct stat null {};
    if (stat("/dev/null", &null) == 0 && null.st_rdev == st.st_rdev) return PathKind::kDiscard;
    if (IsTerminalDevice(path, st)) return PathKind::kTerminal;
  }
  return PathKind::kDevice;
}

bool SamePath(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(getpid());
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::FILE* CreateNewFile(const std::string& path, const std::string& like, std::error_code* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    Errno(error);
    return nullptr;
  }
  struct stat st {};
  if (stat(like.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    Errno(error);
    close(fd);
    unlink(path.c_str());
  }
  return file;
}

bool SyncFile(std::FILE* file, std::error_code* error) {
  return (std::fflush(file) == 0 && fsync(fileno(file)) == 0) || Errno(error);
}

bool RenameOver(const std::string& from, const std::string& to, std::error_code* error) {
  return std::rename(from.c_str(), to.c_str()) == 0 || Errno(error);
}

// Names are bytes here, and the terminal takes the UTF-8 the tool writes.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(utf8);
}

std::FILE* OpenFile(const std::string& path, const char* mode, std::error_code* error) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) Errno(error);
  return file;
}

bool RemoveFile(const std::string& path) {
  return std::remove(path.c_str()) == 0;
}

}  // namespace platform
