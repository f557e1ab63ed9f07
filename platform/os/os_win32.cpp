// clang-format off
#include <windows.h>
#include <shellapi.h>  // CommandLineToArgvW; needs windows.h first
#include <timeapi.h>   // needs windows.h first
// clang-format on
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/os/os.h"
#include "platform/os/wide_win32.h"

namespace platform {

// Every file call below is a wide one: the ...A calls would bend a UTF-8 name
// to the code page (Ł to L, 東京 to ??) and stop at 260 characters. A manifest
// asking for UTF-8 and long paths helps only Windows 10 1903 and later, the
// long paths only where the system allows them too, and Wine not at all.
std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Narrow(const wchar_t* wide, size_t length) {
  if (length == 0) return {};
  const int size = static_cast<int>(length);
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

namespace {

// Windows 10 1803 and later; MinGW's headers do not have it yet.
constexpr DWORD kHighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

// The block download pauses 1 ms some 8000 times; at the default 15.6 ms tick
// Sleep(1) would turn that into two minutes. Two measures, both taken:
// - the process asks for a 1 ms system timer once (timeBeginPeriod(1), never
//   undone: the operating system drops it when the process ends), so a plain
//   Sleep is good to about a millisecond everywhere;
// - where Windows offers high-resolution waitable timers (Windows 10 1803 on),
//   each thread waits on one of its own, which keeps a 1 ms pause close to
//   1 ms instead of rounding it up to the next tick. Older systems refuse the
//   flag and fall back to Sleep.
void RaiseTimerResolution() {
  static const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)raised;
}

// One timer per thread: a waitable timer re-armed by two threads at once would
// wake only one of them on time.
class ThreadTimer {
 public:
  ThreadTimer()
      : handle_(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS)) {}
  ~ThreadTimer() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;

  // False when there is no high-resolution timer; the caller then sleeps.
  bool Wait(unsigned ms) {
    if (handle_ == nullptr) return false;
    LARGE_INTEGER due{};
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // relative, in 100 ns
    if (!SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE)) return false;
    return WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  HANDLE handle_;
};

// The name a file call gets. Past MAX_PATH (less room for an 8.3 name, which
// folders need) only the \\?\ form gets through on every Windows; that form
// takes no relative part and no forward slash, hence the full path first.
std::wstring FileName(const std::string& utf8) {
  const std::wstring name = Widen(utf8);
  const bool native = name.rfind(L"\\\\?\\", 0) == 0 || name.rfind(L"\\\\.\\", 0) == 0;
  if (name.size() < MAX_PATH - 12 || native) return name;
  const DWORD need = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (need == 0) return name;
  std::wstring full(need, L'\0');
  const DWORD n = GetFullPathNameW(name.c_str(), need, full.data(), nullptr);
  if (n == 0 || n >= need) return name;
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

UINT consoleOutputCodePage = 0;
void RestoreConsoleOutput() {
  SetConsoleOutputCP(consoleOutputCodePage);
}

int64_t FiletimeMicros(const FILETIME& t) {
  ULARGE_INTEGER v{};
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<int64_t>(v.QuadPart / 10);
}

}  // namespace

void SleepMs(unsigned ms) {
  RaiseTimerResolution();
  if (ms == 0) {
    Sleep(0);  // a plain yield, as on the other platforms
    return;
  }
  thread_local ThreadTimer timer;
  if (!timer.Wait(ms)) Sleep(ms);
}

void KeepTimersPrecise() {}

int64_t MonotonicMicros() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);  // never fails since Windows XP
    return static_cast<int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  // Split the division so that counter * 1000000 cannot overflow after a long uptime.
  const int64_t ticks = now.QuadPart;
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

int64_t ProcessCpuMicros() {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
  return FiletimeMicros(kernel) + FiletimeMicros(user);
}

bool RaiseThreadPriority() {
  return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != 0;
}

bool WindowProgramHasConsole() {
  // Output sent somewhere (a file, a pipe, a device) reaches stdout as it
  // is; else the console the program was started from, if any, is borrowed.
  if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN) return true;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  return std::freopen("CONOUT$", "w", stdout) != nullptr;
}

std::string NativeCommandLine() {
  const wchar_t* line = GetCommandLineW();
  return Narrow(line, wcslen(line));
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  // The console shows what the tool writes, UTF-8, as a Linux terminal does;
  // the console's own page comes back when the program ends.
  const UINT page = GetConsoleOutputCP();
  if (page != 0 && page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    consoleOutputCodePage = page;
    std::atexit(RestoreConsoleOutput);
  }
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  }
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(words[i], wcslen(words[i])));
  LocalFree(words);
  return args;
}

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(FileName(utf8));
}

namespace {

// The C runtime's calls say why in errno, the system's own in GetLastError;
// each is read right after the call that failed. False, for the return.
bool Errno(std::error_code* error) {
  if (error != nullptr) *error = std::error_code(errno, std::generic_category());
  return false;
}
bool LastError(std::error_code* error) {
  if (error != nullptr) {
    *error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
  }
  return false;
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode, std::error_code* error) {
  std::FILE* file = _wfopen(FileName(path).c_str(), Widen(mode).c_str());
  if (file == nullptr) Errno(error);
  return file;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(FileName(path).c_str()) != 0;
}

std::string ExecutableBaseName() {
  wchar_t path[4096] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  if (n == 0 || n >= 4096) return "kw9";
  std::string base = Narrow(path, n);
  const size_t slash = base.find_last_of("\\/:");
  if (slash != std::string::npos) base.erase(0, slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  return base;
}

bool StandardErrorIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

bool BackslashSeparatesFolders() {
  return true;
}

namespace {
volatile LONG interruptRaised = 0;

// The temporary files the second event removes before the process ends (see
// the POSIX side): fixed slots, claimed (1), filled, then armed (2).
constexpr int kKilledFileSlots = 16;
constexpr size_t kKilledPathChars = 2048;
std::atomic<int> killedFileState[kKilledFileSlots];
wchar_t killedFilePath[kKilledFileSlots][kKilledPathChars];

BOOL WINAPI OnConsoleControl(DWORD) {
  // The first event is ours; from the second on the default handler ends
  // the process, less its temporary files.
  if (InterlockedExchange(&interruptRaised, 1) == 0) return TRUE;
  for (int i = 0; i < kKilledFileSlots; ++i) {
    if (killedFileState[i].load() == 2) DeleteFileW(killedFilePath[i]);
  }
  return FALSE;
}
}  // namespace

int RemoveWhenKilled(const std::string& path) {
  const std::wstring name = FileName(path);
  if (name.size() >= kKilledPathChars) return -1;
  for (int i = 0; i < kKilledFileSlots; ++i) {
    int free = 0;
    if (!killedFileState[i].compare_exchange_strong(free, 1)) continue;
    std::memcpy(killedFilePath[i], name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    killedFileState[i].store(2);
    return i;
  }
  return -1;
}

void KeepWhenKilled(int slot) {
  if (slot >= 0 && slot < kKilledFileSlots) killedFileState[slot].store(0);
}

void CatchInterrupts() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
  return InterlockedCompareExchange(&interruptRaised, 0, 0) != 0;
}

bool AppendToFile(const std::string& path, const std::string& text, std::error_code* error) {
  // Append access alone makes every write go to the end of the file in one
  // step, whatever other processes append meanwhile.
  const HANDLE file =
      CreateFileW(FileName(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError(error);
  DWORD written = 0;
  const bool ok =
      (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
       written == text.size() && FlushFileBuffers(file)) ||
      LastError(error);
  return (CloseHandle(file) || LastError(error)) && ok;
}

ReplacementPlan PlanReplacement(const std::string& path) {
  ReplacementPlan plan;
  plan.target = path;
  // Devices (NUL, COM1) and directories are no file to rename over; a
  // directory then fails to open, as it would have anyway. A reserved name
  // is its device whatever attributes the system reports for it.
  const PathKind kind = KindOfPath(path);
  plan.direct = kind != PathKind::kMissing && kind != PathKind::kFile;
  const DWORD attributes = GetFileAttributesW(FileName(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return plan;
  plan.writable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  if (!plan.writable) plan.whyNotWritable = std::make_error_code(std::errc::permission_denied);
  return plan;
}

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The device a name stands for whatever folder it is in ("COM3",
// "c:\x\con.kml" and "\\.\COM12" alike), as Windows reads reserved names; ""
// for a file.
std::string DeviceName(const std::string& path) {
  std::string name = Upper(path);
  bool deviceSpace = false;
  if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("\\\\?\\", 0) == 0) {
    name.erase(0, 4);
    if (name.rfind("PIPE\\", 0) == 0) return "PIPE";
    deviceSpace = name.find_first_of("\\/") == std::string::npos;
  }
  const size_t slash = name.find_last_of("\\/:");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  // Reserved names keep their meaning with an extension or trailing blanks.
  const size_t dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  for (const char* reserved : {"CON", "CONIN$", "CONOUT$", "PRN", "AUX", "NUL"}) {
    if (name == reserved) return name;
  }
  // COM1 to COM9 anywhere; COM10 and up only as \\.\COM10.
  const bool numbered = (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) &&
                        name.size() > 3 && name[3] >= '1' && name[3] <= '9' &&
                        name.find_first_not_of("0123456789", 3) == std::string::npos;
  if (numbered && (name.size() == 4 || deviceSpace)) return name;
  return "";
}

}  // namespace

PathKind KindOfPath(const std::string& path) {
  const std::string device = DeviceName(path);
  if (device == "NUL") return PathKind::kDiscard;
  if (device == "PIPE") return PathKind::kPipe;
  if (device.rfind("LPT", 0) == 0 || device == "PRN") return PathKind::kDevice;
  if (!device.empty()) return PathKind::kTerminal;  // a console or a COM port
  const DWORD attributes = GetFileAttributesW(FileName(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return PathKind::kDevice;
  return PathKind::kFile;
}

bool SamePath(const std::string& a, const std::string& b) {
  const std::string da = DeviceName(a);
  if (!da.empty()) return da == DeviceName(b);
  const auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE h = CreateFileW(FileName(path).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!identity(a, ia) || !identity(b, ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

unsigned long ProcessId() {
  return GetCurrentProcessId();
}

bool PathExists(const std::string& path) {
  return GetFileAttributesW(FileName(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::FILE* CreateNewFile(const std::string& path, const std::string&, std::error_code* error) {
  // A file that may be replaced is writable, and so is its copy.
  const std::wstring name = FileName(path);
  const int fd =
      _wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    Errno(error);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    Errno(error);
    _close(fd);
    DeleteFileW(name.c_str());
  }
  return file;
}

bool SyncFile(std::FILE* file, std::error_code* error) {
  return (std::fflush(file) == 0 && _commit(_fileno(file)) == 0) || Errno(error);
}

bool RenameOver(const std::string& from, const std::string& to, std::error_code* error) {
  return MoveFileExW(FileName(from).c_str(), FileName(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
         LastError(error);
}

}  // namespace platform
