// The Windows sleep and clock calls, run under Wine (and on Windows as is).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "platform/os/os.h"

namespace {

using platform::MonotonicMicros;
using platform::ProcessCpuMicros;
using platform::SleepMs;

// Well above what a busy machine adds to a 1 ms sleep, well below the 15.6 ms
// tick this guards against.
constexpr double kSlowestMeanMs = 8.0;

double MeanSleepMs(unsigned ms, int calls) {
  const int64_t start = MonotonicMicros();
  for (int i = 0; i < calls; ++i) SleepMs(ms);
  return static_cast<double>(MonotonicMicros() - start) / 1000.0 / calls;
}

// The block download pauses 1 ms per block, 8192 times: rounded up to a
// 15.6 ms tick, the download would take two minutes longer.
TEST(Win32Os, OneMillisecondSleepLastsAboutOneMillisecond) {
  constexpr int kCalls = 200;
  const double mean = MeanSleepMs(1, kCalls);
  std::printf("SleepMs(1): mean %.3f ms over %d calls\n", mean, kCalls);
  RecordProperty("sleep_1ms_mean_us", static_cast<int>(mean * 1000.0));
  EXPECT_GE(mean, 0.95) << "the pause between command and address must not vanish";
  EXPECT_LE(mean, kSlowestMeanMs) << "the timer resolution was not raised";
}

// Catches a unit slip in the due time (100 ns steps) or a sleep that returns early.
TEST(Win32Os, SleepLastsWhatWasAskedFor) {
  struct Case {
    unsigned ms;
    int calls;
  };
  for (const Case c : {Case{0, 50}, Case{2, 20}, Case{10, 5}, Case{50, 2}}) {
    SCOPED_TRACE(c.ms);
    const double mean = MeanSleepMs(c.ms, c.calls);
    EXPECT_GE(mean, c.ms * 0.95);
    // A slip of the 100 ns unit is thousands of times too long; a loaded
    // machine (ctest runs eight at a time) makes a sleep a few ticks late.
    EXPECT_LE(mean, c.ms * 3.0 + 50.0);
  }
}

// Each thread has a timer of its own: a shared one, re-armed by another
// thread, would leave a waiter asleep until someone re-armed it again, or for
// ever once the others are done.
TEST(Win32Os, ThreadsSleepingAtOnceWakeOnTime) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  struct Shared {
    std::array<double, kThreads> means{};
    std::atomic<int> done{0};
  };
  auto shared = std::make_shared<Shared>();
  for (int t = 0; t < kThreads; ++t) {
    std::thread([shared, t] {
      shared->means[t] = MeanSleepMs(1, kCalls);
      shared->done.fetch_add(1);
    }).detach();
  }
  const int64_t deadline = MonotonicMicros() + 20000000;
  while (shared->done.load() < kThreads && MonotonicMicros() < deadline) SleepMs(10);
  ASSERT_EQ(shared->done.load(), kThreads) << "a sleeping thread never woke";
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_GE(shared->means[t], 0.95) << "thread " << t;
    EXPECT_LE(shared->means[t], kSlowestMeanMs) << "thread " << t;
  }
}

// The performance counter is scaled to microseconds. Compared with the
// standard library's steady clock over a quarter of a second, each reading
// bracketed by two of the other clock, so being preempted cannot fail it.
TEST(Win32Os, MonotonicClockCountsMicroseconds) {
  using Steady = std::chrono::steady_clock;
  const auto us = [](Steady::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  };
  const auto before0 = Steady::now();
  const int64_t start = MonotonicMicros();
  const auto after0 = Steady::now();
  int64_t last = start;
  bool wentBack = false;
  while (Steady::now() - after0 < std::chrono::milliseconds(250)) {
    const int64_t now = MonotonicMicros();
    wentBack = wentBack || now < last;
    last = now;
  }
  const auto before1 = Steady::now();
  const int64_t end = MonotonicMicros();
  const auto after1 = Steady::now();
  EXPECT_FALSE(wentBack);
  EXPECT_GE(end - start, us(before1 - after0) - 1000);
  EXPECT_LE(end - start, us(after1 - before0) + 1000);
}

// Process times come in 100 ns steps (under Wine in 10 ms ones); the tool
// wants microseconds, and work counts while waiting does not. Spinning until
// a fifth of a second of CPU time has been reported must take at least that
// long on the wall clock, and not for ever.
TEST(Win32Os, ProcessCpuTimeCountsWorkNotWaiting) {
  const int64_t cpuStart = ProcessCpuMicros();
  const int64_t wallStart = MonotonicMicros();
  volatile uint64_t sink = 0;
  while (ProcessCpuMicros() - cpuStart < 200000 && MonotonicMicros() - wallStart < 20000000) {
    for (int i = 0; i < 10000; ++i) sink = sink + static_cast<uint64_t>(i);
  }
  const int64_t wall = MonotonicMicros() - wallStart;
  EXPECT_GE(ProcessCpuMicros() - cpuStart, 200000) << "no CPU time after 20 s of work";
  EXPECT_GE(wall, 180000) << "CPU time ran ahead of the wall clock";

  const int64_t beforeWait = ProcessCpuMicros();
  SleepMs(300);
  EXPECT_LT(ProcessCpuMicros() - beforeWait, 100000);
}

// Windows reads a reserved name as its device in any folder and with any
// extension: "con.kml" is the console, "COM3.gpx" the port. A wrong answer
// writes a track to a port as commands, or refuses NUL, the discard.
TEST(Win32Os, KindOfPathKnowsTheDevices) {
  using platform::PathKind;
  const struct {
    const char* path;
    PathKind kind;
  } rows[] = {
      {"COM3", PathKind::kTerminal},
      {"c:\\tracks\\COM3.gpx", PathKind::kTerminal},
      {"\\\\.\\COM12", PathKind::kTerminal},
      {"con.kml", PathKind::kTerminal},
      {"CONOUT$", PathKind::kTerminal},
      {"aux ", PathKind::kTerminal},
      {"NUL", PathKind::kDiscard},
      {"c:\\x\\nul.txt", PathKind::kDiscard},
      {"\\\\.\\pipe\\kw9", PathKind::kPipe},
      {"LPT1", PathKind::kDevice},
      // Only \\.\ makes COM10 and up a device; COM0 is none.
      {"c:\\no-such-folder\\COM12.kml", PathKind::kMissing},
      {"c:\\no-such-folder\\COM0", PathKind::kMissing},
      {"c:\\no-such-folder\\console.kml", PathKind::kMissing},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(platform::KindOfPath(row.path), row.kind);
  }
  // A device is written as it is, never replaced by a renamed file, whatever
  // attributes the system reports for it (Wine: NUL is an archive).
  for (const char* device : {"NUL", "c:\\x\\nul.txt", "CON", "\\\\.\\COM3"}) {
    EXPECT_TRUE(platform::PlanReplacement(device).direct) << device;
  }
  EXPECT_TRUE(platform::SamePath("\\\\.\\COM3", "com3"));
  EXPECT_FALSE(platform::SamePath("COM3", "COM4"));
}

}  // namespace
