// Operating-system stand-ins the tool needs besides the serial port: sleeping,
// clocks, thread priority, the command line and the program's name. One file
// per platform.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Sleeps about ms milliseconds with millisecond resolution on every platform
// (the protocol's 1 ms pause must not become a 15.6 ms timer tick).
void SleepMs(unsigned ms);

// Microseconds on a monotonic clock with an arbitrary origin.
int64_t MonotonicMicros();

// CPU time (user + system) this process has used, in microseconds.
int64_t ProcessCpuMicros();

// Raises the calling thread to the highest priority short of time-critical
// (THREAD_PRIORITY_HIGHEST on Windows). False where the system refuses it, as
// Linux does for an ordinary user; the thread then runs at its old priority.
bool RaiseThreadPriority();

// The process's command line as one string: GetCommandLineA on Windows, the
// arguments joined by blanks elsewhere. A front end that runs the window on
// behalf of the user (kw9cli) replaces it with SetCommandLine.
std::string CommandLine();
void SetCommandLine(const std::string& line);

// The base name of the executable file without its extension ("kw9").
std::string ExecutableBaseName();

}  // namespace platform
