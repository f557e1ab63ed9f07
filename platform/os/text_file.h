// Text files the way a Windows text stream has them, on every platform: the
// tool's KML files carry CR LF line ends wherever they are written, and reading
// one turns CR LF back into a single "\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

#if defined(__MINGW32__)
// MinGW's C++ runtime formats with its own C99 printf, not msvcrt's.
#define KW9_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define KW9_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace platform {

// An output text file: every "\n" written goes to disk as CR LF (a CR already
// in the text stays, as a Windows text stream keeps it). Write failures are
// sticky: once one fails, Failed() stays true and Close() returns false, so a
// caller that never looks at single writes still learns of a full disk.
class TextOutFile {
 public:
  TextOutFile() = default;
  ~TextOutFile();
  TextOutFile(const TextOutFile&) = delete;
  TextOutFile& operator=(const TextOutFile&) = delete;

  // Creates the file or replaces an existing one. False when it cannot be
  // opened (or another file is still open on this object).
  bool Open(const std::string& path);
  // Like Open, but an existing file is replaced only by a complete new one:
  // the text goes to a new file beside it, which Close renames over path once
  // every write and the flush to disk succeeded. Until then, and after
  // Discard or a failure, path keeps what it held. A path that names no
  // regular file (a device) is written directly.
  bool OpenReplacing(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // The name the last OpenReplacing was given.
  const std::string& RequestedPath() const { return requestedPath_; }

  // Formatted write, printf conventions. False when the write failed.
  bool Printf(const char* fmt, ...) KW9_PRINTF_FORMAT(2, 3);
  bool Write(const char* text);
  bool Write(const char* text, size_t length);
  // The bytes as they are: a "\n" stays a "\n" (files other programs read as
  // they are, such as JSON). False when the write failed.
  bool WriteBytes(const char* data, size_t length);

  // Flushes and closes. False when that fails or any earlier write failed.
  // Closing a file that is not open returns false. For OpenReplacing, this is
  // where path is replaced, and false means it was not.
  bool Close();
  // Closes without replacing anything: the new file is removed. A file opened
  // with Open, or written directly, is simply closed.
  void Discard();
  // For text that is not whole (a download that ended early) opened with
  // OpenReplacing: a file that path holds by now is kept, and the text is
  // saved beside it as PartialName(path) instead, replacing an earlier one;
  // keptBeside then gets that name. With no file at path (or one written
  // directly) this is Close, and keptBeside is cleared. False as for Close.
  bool ClosePartial(std::string& keptBeside);

  // True once any write (or the open) failed; cleared by the next Open.
  bool Failed() const { return failed_; }
  // The system's reason for the first failure since the last open ("No such
  // file or directory", "No space left on device"); empty when nothing
  // failed, or when the system gave none.
  const std::error_code& Reason() const { return reason_; }

 private:
  // Marks the file failed with the reason, unless an earlier one stands.
  void Fail(const std::error_code& reason);
  // The same with errno, for a C library call that just failed.
  void FailWithErrno();

  std::FILE* file_ = nullptr;
  bool failed_ = false;
  std::error_code reason_;
  // Flushes and closes; the new file of OpenReplacing becomes to, or, should
  // that rename fail, orElse when given. landed gets the name it became.
  bool CloseInto(const std::string& to, const std::string& orElse = {},
                 std::string* landed = nullptr);

  std::string pendingPath_;    // the new file of OpenReplacing; empty otherwise
  std::string targetPath_;     // what it replaces
  std::string requestedPath_;  // the name OpenReplacing was given
  int killedSlot_ = -1;        // the pending file's RemoveWhenKilled slot
};

// Where text that is not whole goes beside path: "out.kml" gives
// "out.partial.kml", and a name without the extension gets it added.
std::string PartialName(const std::string& path);

// An input text file read line by line the way fgets reads a Windows text
// stream: CR LF arrives as "\n", a lone CR stays, and one read delivers at most
// size - 1 characters, so a long line comes in several pieces.
class TextInFile {
 public:
  TextInFile() = default;
  ~TextInFile();
  TextInFile(const TextInFile&) = delete;
  TextInFile& operator=(const TextInFile&) = delete;

  // Reading fails (Error and TooLong set) once more than limit bytes were
  // read: a file that never ends does not hold a command for ever.
  bool Open(const std::string& path, uint64_t limit = UINT64_MAX);
  bool IsOpen() const { return file_ != nullptr; }
  // From now on reading fails (Error and Interrupted set) once an interrupt
  // was asked for (CatchInterrupts), so a long copy ends when told.
  void StopOnInterrupt() { stopOnInterrupt_ = true; }

  // Reads up to and including the next "\n", at most size - 1 characters, and
  // terminates buf. False when nothing was read (end of file or a read error);
  // buf then holds an empty string. A last line without a line end is
  // delivered with true, and Eof() is set by that same read.
  bool ReadLine(char* buf, int size);
  // The same for a whole line however long, into line; it may hold NUL bytes.
  bool ReadLine(std::string& line);

  // True once a read reached the end of the file.
  bool Eof() const { return eof_; }
  // True once a read failed.
  bool Error() const { return error_; }
  bool TooLong() const { return tooLong_; }
  bool Interrupted() const { return interrupted_; }

  void Close();

 private:
  // Next raw byte, or -1 at the end of the data (eof_ or error_ then tell why).
  int NextByte();
  // The next raw byte without consuming it, or -1.
  int PeekByte();
  bool Fill();

  std::FILE* file_ = nullptr;
  bool eof_ = false;
  bool error_ = false;
  bool tooLong_ = false;
  bool interrupted_ = false;
  bool stopOnInterrupt_ = false;
  uint64_t limit_ = UINT64_MAX;
  uint64_t consumed_ = 0;  // raw bytes read from the file
  size_t pos_ = 0;
  size_t length_ = 0;
  char buffer_[4096];
};

}  // namespace platform
