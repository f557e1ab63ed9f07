// Operating-system stand-ins the tool needs besides the serial port: sleeping,
// clocks, thread priority, the command line and the program's name. One file
// per platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

// Sleeps about ms milliseconds with millisecond resolution on every platform
// (the protocol's 1 ms pause must not become a 15.6 ms timer tick).
void SleepMs(unsigned ms);

// This thread's timed waits (sleeps, polls on a port) end when asked, not a
// little later to gather wake-ups: a download waits thousands of times.
// Nothing to do where the system does not delay them.
void KeepTimersPrecise();

// Microseconds on a monotonic clock with an arbitrary origin.
int64_t MonotonicMicros();

// CPU time (user + system) this process has used, in microseconds.
int64_t ProcessCpuMicros();

// Raises the calling thread to the highest priority short of time-critical
// (THREAD_PRIORITY_HIGHEST on Windows). False where the system refuses it, as
// Linux does for an ordinary user; the thread then runs at its old priority.
bool RaiseThreadPriority();

// True where the window program can answer --help on its caller's terminal:
// a Linux program has one; a Windows GUI program has none of its own and
// borrows its caller's console, or writes to where stdout was sent.
bool WindowProgramHasConsole();

// Every name the tool passes to these functions is UTF-8, on every platform;
// Windows gets it through its wide calls, so no name is bent to a code page
// and no path is held to 260 characters.

// The program's arguments after its name, in UTF-8 (Windows hands main() its
// code page's rendering of them). Also makes the console show UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// A UTF-8 name as a std::filesystem::path to take apart, and back:
// path(std::string) and path::string() mean the code page on Windows.
inline std::filesystem::path NamePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The path std::filesystem's calls on the disk (file_size, equivalent) get
// for a UTF-8 name: on Windows a long one in the form that passes 260
// characters. Not for taking apart or showing.
std::filesystem::path FsPath(const std::string& utf8);

// The file calls that can fail put the system's reason (errno, or
// GetLastError on Windows) in *error when given, read at the failing call:
// a message that names the file can then say why ("No space left on
// device"), which a later call would have overwritten.

// fopen and remove for a UTF-8 name.
std::FILE* OpenFile(const std::string& path, const char* mode, std::error_code* error = nullptr);
bool RemoveFile(const std::string& path);

// The process's command line as one string (UTF-8 on Windows too), the
// arguments joined by blanks elsewhere. A front end that runs the window on
// behalf of the user (kw9cli) replaces it with SetCommandLine.
std::string CommandLine();
void SetCommandLine(const std::string& line);

// The base name of the executable file without its extension ("kw9").
std::string ExecutableBaseName();

// True when standard error goes to a terminal (a progress bar can redraw).
bool StandardErrorIsTerminal();

// True where a backslash separates folders (Windows), so no name holds one;
// elsewhere it is a character of the name like any other.
bool BackslashSeparatesFolders();

// --- Interrupts: Ctrl-C, SIGTERM, Ctrl-Break, the console closing.

// From now on the first interrupt only raises the flag InterruptRequested
// reads, so a front end can end the exchange in progress cleanly; a second
// one ends the process the system's default way.
void CatchInterrupts();
bool InterruptRequested();

// Appends text to path (created when missing) in one write and pushes it to
// the disk. Several processes appending to one file at once never lose or
// interleave each other's text.
bool AppendToFile(const std::string& path, const std::string& text,
                  std::error_code* error = nullptr);

// --- Replacing a file only once its new contents are complete.

struct ReplacementPlan {
  // Write path itself: it names something that is no regular file (a device
  // such as /dev/null), which a rename would replace instead of writing to.
  bool direct = false;
  // False when the file exists but may not be written: it is refused as an
  // open for writing would refuse it, not renamed over.
  bool writable = true;
  std::error_code whyNotWritable;
  // The regular file the finished copy is renamed over, links followed.
  std::string target;
};
ReplacementPlan PlanReplacement(const std::string& path);

// --- What a path names, so that an output or an input that is no file can be
// refused before it is opened: a terminal or a pipe would take a KML file as
// commands, or never end.
enum class PathKind {
  kMissing,  // nothing of that name (yet)
  kFile,     // a regular file, links followed
  kFolder,
  kDiscard,   // the system's null device (/dev/null, NUL)
  kTerminal,  // a terminal, console or serial port
  kPipe,      // a FIFO, socket or named pipe
  kDevice,    // any other device (/dev/full, /dev/zero, a disk)
};
PathKind KindOfPath(const std::string& path);

// True when a and b both exist and name the same file or device.
bool SamePath(const std::string& a, const std::string& b);

// A temporary file that a second interrupt, which ends the process at once,
// removes first: the first one only asks the command to finish cleanly, which
// removes or renames its files itself. The slot, or -1 when all are taken.
int RemoveWhenKilled(const std::string& path);
void KeepWhenKilled(int slot);

// The process's id, for names no other process picks.
unsigned long ProcessId();
// True when something of that name exists (a file, a folder, a dangling link).
bool PathExists(const std::string& path);

// Creates path for binary writing; fails when it exists. The file gets the
// permissions of the file like when that exists, else those of a new file.
std::FILE* CreateNewFile(const std::string& path, const std::string& like,
                         std::error_code* error = nullptr);

// Pushes what was written to the disk, so the rename that follows never shows
// a file whose data is still in flight.
bool SyncFile(std::FILE* file, std::error_code* error = nullptr);

// Renames from to to, replacing to in one step.
bool RenameOver(const std::string& from, const std::string& to, std::error_code* error = nullptr);

}  // namespace platform
