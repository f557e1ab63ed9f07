// Operating-system stand-ins the tool needs besides the serial port: sleeping,
// the monotonic clock and process CPU time. One file per platform.
#pragma once

#include <cstdint>

namespace platform {

// Sleeps about ms milliseconds with millisecond resolution on every platform
// (the protocol's 1 ms pause must not become a 15.6 ms timer tick).
void SleepMs(unsigned ms);

// Microseconds on a monotonic clock with an arbitrary origin.
int64_t MonotonicMicros();

// CPU time (user + system) this process has used, in microseconds.
int64_t ProcessCpuMicros();

}  // namespace platform
