// The simulated tracker on a pseudo-terminal: any program that opens a serial
// device by path (the tool, a terminal program, Wine's COM port link) talks
// to it as to the real thing. POSIX only.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/tracker.h"

namespace sim {

class PtyTransport {
 public:
  PtyTransport();
  ~PtyTransport();  // stops serving
  PtyTransport(const PtyTransport&) = delete;
  PtyTransport& operator=(const PtyTransport&) = delete;

  // Opens a pseudo-terminal and serves a tracker built from config on it,
  // on a thread of its own. False when no pseudo-terminal could be had or
  // when already started.
  bool Start(Config config);

  // The device a client opens, such as /dev/pts/7; empty before Start.
  std::string DevicePath() const;

  // Stops serving and closes the pseudo-terminal. The tracker stays
  // available to WithTracker. Safe to call more than once.
  void Stop();

  // Runs fn on the tracker while the serving thread keeps off it; nothing
  // happens before the first Start.
  void WithTracker(const std::function<void(Tracker&)>& fn);

  // True once the line is gone: the drop fault fired and the pseudo-terminal
  // was closed, so the client saw a hang-up.
  bool Dropped() const;

  // Called once, on the serving thread, right after the line went down.
  // Set it before Start.
  void OnDrop(std::function<void()> handler);

 private:
  void Serve();
  void CloseAll();
  void Wake();

  mutable std::mutex mutex_;  // guards tracker_
  std::optional<Tracker> tracker_;
  std::string path_;
  int master_ = -1;
  // Tells of opens of the slave side while no client has it: the master
  // then only says "hung up" until one does. -1 where the system cannot.
  int opens_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> dropped_{false};
  std::function<void()> onDrop_;
};

}  // namespace sim
