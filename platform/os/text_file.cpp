#include "platform/os/text_file.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "platform/os/os.h"

namespace platform {

TextOutFile::~TextOutFile() {
  // A replacing file never replaces anything unless Close was asked for.
  if (!pendingPath_.empty()) {
    Discard();
  } else if (file_ != nullptr) {
    Close();
  }
}

void TextOutFile::Fail(const std::error_code& reason) {
  if (!failed_ || !reason_) reason_ = reason;
  failed_ = true;
}

void TextOutFile::FailWithErrno() {
  Fail(std::error_code(errno, std::generic_category()));
}

bool TextOutFile::OpenReplacing(const std::string& path) {
  if (file_ != nullptr) return false;
  requestedPath_ = path;
  failed_ = false;
  reason_.clear();
  const ReplacementPlan plan = PlanReplacement(path);
  if (!plan.writable) {
    Fail(plan.whyNotWritable);
    return false;
  }
  if (plan.direct) return Open(path);
  // The new file sits beside the old one, so the rename stays on one file
  // system and is a single step.
  static std::atomic<unsigned> serial{0};
  std::error_code why;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = plan.target + ".kw9-" + std::to_string(ProcessId()) + "-" +
                                  std::to_string(serial++) + ".tmp";
    file_ = CreateNewFile(candidate, plan.target, &why);
    if (file_ != nullptr) {
      pendingPath_ = candidate;
      killedSlot_ = RemoveWhenKilled(candidate);
      targetPath_ = plan.target;
      failed_ = false;
      return true;
    }
    if (!PathExists(candidate)) break;  // not a name clash: the folder refuses
  }
  Fail(why);
  return false;
}

bool TextOutFile::Open(const std::string& path) {
  if (file_ != nullptr) return false;
  failed_ = false;
  reason_.clear();
  std::error_code why;
  // Binary, so the C library on no platform adds or drops a CR behind our back.
  file_ = OpenFile(path, "wb", &why);
  if (file_ == nullptr) Fail(why);
  return file_ != nullptr;
}

bool TextOutFile::Write(const char* text) {
  return Write(text, std::strlen(text));
}

bool TextOutFile::Write(const char* text, size_t length) {
  if (file_ == nullptr) {
    Fail({});
    return false;
  }
  bool ok = true;
  const char* end = text + length;
  while (text < end) {
    const void* found = std::memchr(text, '\n', static_cast<size_t>(end - text));
    const char* lineEnd = found != nullptr ? static_cast<const char*>(found) : end;
    const size_t run = static_cast<size_t>(lineEnd - text);
    if (run != 0 && std::fwrite(text, 1, run, file_) != run) ok = false;
    if (!ok || lineEnd == end) break;  // a failure's reason is its first one's
    if (std::fwrite("\r\n", 1, 2, file_) != 2) ok = false;
    text = lineEnd + 1;
  }
  if (!ok) FailWithErrno();
  return ok;
}

bool TextOutFile::WriteBytes(const char* data, size_t length) {
  if (file_ == nullptr) {
    Fail({});
    return false;
  }
  if (std::fwrite(data, 1, length, file_) == length) return true;
  FailWithErrno();
  return false;
}

bool TextOutFile::Printf(const char* fmt, ...) {
  // Every line the tool formats fits here; only an unusually long one costs
  // an allocation.
  char local[512];
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(local, sizeof local, fmt, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    Fail({});
    return false;
  }
  if (static_cast<size_t>(n) < sizeof local) {
    va_end(again);
    return Write(local, static_cast<size_t>(n));
  }
  std::unique_ptr<char[]> heap(new (std::nothrow) char[static_cast<size_t>(n) + 1]);
  if (!heap) {
    va_end(again);
    Fail(std::make_error_code(std::errc::not_enough_memory));
    return false;
  }
  std::vsnprintf(heap.get(), static_cast<size_t>(n) + 1, fmt, again);
  va_end(again);
  return Write(heap.get(), static_cast<size_t>(n));
}

bool TextOutFile::Close() {
  return CloseInto(targetPath_);
}

bool TextOutFile::ClosePartial(std::string& keptBeside) {
  keptBeside.clear();
  if (file_ == nullptr || pendingPath_.empty() || !PathExists(targetPath_)) return Close();
  // Beside the name the user chose; beside the file it names should that be
  // in another folder the rename cannot reach.
  const std::string beside = PartialName(requestedPath_);
  const std::string besideTarget = PartialName(targetPath_);
  return CloseInto(beside, besideTarget, &keptBeside);
}

std::string PartialName(const std::string& path) {
  const std::string kml = ".kml";
  const bool hasExtension =
      path.size() > kml.size() &&
      std::equal(kml.begin(), kml.end(), path.end() - static_cast<std::ptrdiff_t>(kml.size()),
                 [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
  if (!hasExtension) return path + ".partial" + kml;
  const size_t dot = path.size() - kml.size();
  return path.substr(0, dot) + ".partial" + path.substr(dot);
}

bool TextOutFile::CloseInto(const std::string& to, const std::string& orElse, std::string* landed) {
  if (file_ == nullptr) return false;
  // fclose reports a failed final flush too, but flushing first keeps the
  // check explicit where a C library is lax about it.
  if (std::fflush(file_) != 0) FailWithErrno();
  if (std::ferror(file_) != 0) Fail({});
  std::error_code why;
  if (!pendingPath_.empty() && !failed_ && !SyncFile(file_, &why)) Fail(why);
  if (std::fclose(file_) != 0) FailWithErrno();
  file_ = nullptr;
  if (pendingPath_.empty()) return !failed_;
  if (!failed_ && RenameOver(pendingPath_, to, &why)) {
    if (landed != nullptr) *landed = to;
  } else if (!failed_ && !orElse.empty() && orElse != to &&
             RenameOver(pendingPath_, orElse, &why)) {
    if (landed != nullptr) *landed = orElse;
  } else {
    Fail(why);
    RemoveFile(pendingPath_);
  }
  KeepWhenKilled(killedSlot_);
  killedSlot_ = -1;
  pendingPath_.clear();
  return !failed_;
}

void TextOutFile::Discard() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (!pendingPath_.empty()) RemoveFile(pendingPath_);
  KeepWhenKilled(killedSlot_);
  killedSlot_ = -1;
  pendingPath_.clear();
}

TextInFile::~TextInFile() {
  Close();
}

bool TextInFile::Open(const std::string& path, uint64_t limit) {
  if (file_ != nullptr) return false;
  file_ = OpenFile(path, "rb");
  eof_ = false;
  error_ = false;
  tooLong_ = false;
  interrupted_ = false;
  stopOnInterrupt_ = false;
  limit_ = limit;
  consumed_ = 0;
  pos_ = 0;
  length_ = 0;
  // A file known to be past the bound need not be read to find that out.
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(FsPath(path), ec);
  if (file_ != nullptr && !ec && size > limit_) tooLong_ = error_ = true;
  return file_ != nullptr;
}

void TextInFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool TextInFile::Fill() {
  if (file_ == nullptr) return false;
  pos_ = 0;
  length_ = 0;
  // Both end the reading as a failed read would: what was read so far is no
  // whole file.
  if (tooLong_ || consumed_ > limit_) {
    tooLong_ = error_ = true;
    return false;
  }
  if (stopOnInterrupt_ && InterruptRequested()) {
    interrupted_ = error_ = true;
    return false;
  }
  length_ = std::fread(buffer_, 1, sizeof buffer_, file_);
  consumed_ += length_;
  if (length_ == 0 && std::ferror(file_) != 0) error_ = true;
  return length_ != 0;
}

int TextInFile::PeekByte() {
  if (pos_ == length_ && !Fill()) return -1;
  return static_cast<unsigned char>(buffer_[pos_]);
}

int TextInFile::NextByte() {
  const int c = PeekByte();
  if (c < 0) {
    // A look-ahead behind a CR that met the end does not count as reaching
    // it; only a read for a character to deliver does, as with fgets.
    if (!error_) eof_ = true;
    return -1;
  }
  ++pos_;
  return c;
}

bool TextInFile::ReadLine(char* buf, int size) {
  if (size <= 0) return false;
  int stored = 0;
  while (stored < size - 1) {
    int c = NextByte();
    if (c < 0) break;
    if (c == '\r' && PeekByte() == '\n') {
      ++pos_;
      c = '\n';
    }
    buf[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[stored] = '\0';
  // As with fgets, a read error makes the whole call fail.
  if (error_) {
    buf[0] = '\0';
    return false;
  }
  return stored > 0;
}

bool TextInFile::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    int c = NextByte();
    if (c < 0) break;
    if (c == '\r' && PeekByte() == '\n') {
      ++pos_;
      c = '\n';
    }
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (error_) {
    line.clear();
    return false;
  }
  return !line.empty();
}

}  // namespace platform
