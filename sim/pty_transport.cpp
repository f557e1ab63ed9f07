#include "sim/pty_transport.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace sim {
namespace {

int64_t NowMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool SetFlags(int fd) {
  const int fl = fcntl(fd, F_GETFL);
  return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// How often a line without a client is looked at again where the system
// cannot tell of opens.
constexpr int64_t kRecheckMicros = 10000;

// ptsname hands out a static buffer.
std::mutex ptsnameMutex;

// A paced line stands in for hardware, which keeps its time whatever else the
// machine runs: a byte the simulator puts out late would count as the host's
// own slowness. So its thread wakes to the microsecond (no timer slack) and
// asks to run before ordinary threads; where the system refuses, it runs
// as it is.
void KeepPace() {
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace

PtyTransport::PtyTransport() = default;

PtyTransport::~PtyTransport() {
  Stop();
}

bool PtyTransport::Start(Config config) {
  if (thread_.joinable() || master_ >= 0) return false;
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return false;
  bool ok = SetFlags(master_) && grantpt(master_) == 0 && unlockpt(master_) == 0;
  if (ok) {
    std::lock_guard lock(ptsnameMutex);
    const char* name = ptsname(master_);
    ok = name != nullptr;
    if (ok) path_ = name;
  }
  if (ok) {
    // Raw both ways: LF CR and every other byte must pass untranslated. The
    // settings stay with the pseudo-terminal while the master is open; the
    // slave is not kept open, or every client would find the line in use.
    int slave = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ok = slave >= 0 && tcgetattr(slave, &tio) == 0;
    if (ok) {
      cfmakeraw(&tio);
      tio.c_cflag |= CLOCAL | CREAD;
      cfsetispeed(&tio, B9600);
      cfsetospeed(&tio, B9600);
      ok = tcsetattr(slave, TCSANOW, &tio) == 0;
    }
    CloseFd(slave);
  }
  if (ok) {
    opens_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (opens_ >= 0 && inotify_add_watch(opens_, path_.c_str(), IN_OPEN) < 0) CloseFd(opens_);
  }
  int wake[2];
  if (ok && pipe(wake) == 0) {
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    ok = SetFlags(wakeRead_) && SetFlags(wakeWrite_);
  } else {
    ok = false;
  }
  if (!ok) {
    CloseAll();
    path_.clear();
    return false;
  }
  const bool paced = config.pace;
  {
    std::lock_guard lock(mutex_);
    tracker_.emplace(std::move(config));
  }
  stopping_ = false;
  dropped_ = false;
  thread_ = std::thread([this, paced] {
    if (paced) KeepPace();
    Serve();
  });
  return true;
}

std::string PtyTransport::DevicePath() const {
  return path_;
}

void PtyTransport::Stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    Wake();
    thread_.join();
  }
  CloseAll();
}

void PtyTransport::WithTracker(const std::function<void(Tracker&)>& fn) {
  {
    std::lock_guard lock(mutex_);
    if (tracker_) fn(*tracker_);
  }
  Wake();  // fn may have changed what is due
}

bool PtyTransport::Dropped() const {
  return dropped_;
}

void PtyTransport::OnDrop(std::function<void()> handler) {
  onDrop_ = std::move(handler);
}

void PtyTransport::Wake() {
  if (wakeWrite_ < 0) return;
  const uint8_t b = 1;
  // A full pipe already holds a wake-up; nothing to do then.
  while (write(wakeWrite_, &b, 1) < 0 && errno == EINTR) {
  }
}

void PtyTransport::CloseAll() {
  CloseFd(master_);
  CloseFd(opens_);
  CloseFd(wakeRead_);
  CloseFd(wakeWrite_);
}

void PtyTransport::Serve() {
  std::vector<uint8_t> pending;  // due, but the client's side is full
  uint8_t buf[4096];
  bool lineGone = false;
  // False while no client has the slave side open: the master then reports
  // a hang-up at once, so it is left alone until a client opens the line.
  bool attached = true;
  while (!stopping_ && !lineGone) {
    int64_t next;
    {
      std::lock_guard lock(mutex_);
      const int64_t now = NowMicros();
      tracker_->Advance(now);
      size_t n;
      while ((n = tracker_->Transmit(now, buf, sizeof buf)) > 0) {
        pending.insert(pending.end(), buf, buf + n);
      }
      next = tracker_->NextOutputTime();
      lineGone = tracker_->LineDropped();
    }

    // Written even when the line is about to drop: it was on the line first.
    // With no client the bytes wait on the line for the next one, as they
    // would on a real tracker's.
    size_t done = 0;
    while (done < pending.size()) {
      const ssize_t w = write(master_, pending.data() + done, pending.size() - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
      } else if (w < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // EAGAIN: wait until the client has read some
      }
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done));
    if (lineGone) break;

    // To the microsecond: a paced byte a millisecond late would show up as
    // the tool's own slowness in a benchmark.
    int64_t wait = -1;
    if (next != Tracker::kNever) wait = std::clamp<int64_t>(next - NowMicros(), 0, 60000000);
    if (!attached && opens_ < 0) {
      // Without word of opens, look again now and then.
      wait = wait < 0 ? kRecheckMicros : std::min(wait, kRecheckMicros);
    }
    timespec timeout{};
    timespec* timeoutAt = nullptr;
    if (wait >= 0) {
      timeout = {static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000) * 1000};
      timeoutAt = &timeout;
    }
    pollfd fds[3] = {
        {attached ? master_ : -1, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
        {wakeRead_, POLLIN, 0},
        {opens_, POLLIN, 0}};
    const int ready = ppoll(fds, 3, timeoutAt, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      lineGone = true;
      break;
    }
    if (fds[1].revents & POLLIN) {
      while (read(wakeRead_, buf, sizeof buf) > 0) {
      }
    }
    // Taken before the master is asked again, so that an open after this
    // point leaves word for the next wait.
    if (fds[2].revents & POLLIN) {
      while (read(opens_, buf, sizeof buf) > 0) {
      }
      attached = true;
    }
    if (!attached && opens_ < 0 && ready == 0) attached = true;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        std::lock_guard lock(mutex_);
        tracker_->Receive(buf, static_cast<size_t>(n), NowMicros());
      } else if (n == 0 || errno == EIO) {
        attached = false;  // the client closed its side, and all it sent is read
      } else if (errno != EAGAIN && errno != EINTR) {
        lineGone = true;
      }
    } else if (fds[0].revents & (POLLERR | POLLNVAL)) {
      lineGone = true;  // the pseudo-terminal itself is unusable
    } else if (fds[0].revents & POLLHUP) {
      attached = false;
    }
  }
  if (!lineGone) return;
  // Closing the master hangs the line up: the client's next poll or read
  // sees it at once.
  CloseFd(master_);
  dropped_ = true;
  if (onDrop_) onDrop_();
}

}  // namespace sim
