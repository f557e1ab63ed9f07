// kw9cli's output writers, apart from the operations: the lines on standard
// error while the window runs, the text or JSON on standard output after it,
// and the custody log's line.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/progress_line.h"
#include "cli/session.h"

namespace cli {

// CR, LF and TAB as \r, \n and \t, so a text stays on its line, and then a
// backslash as \\. Where backslashes separate folders (Windows), a text
// without CR, LF or TAB, such as any path, is left as it is.
std::string Escaped(const std::string& text);

// A message box's text as the lines standard error shows: the line end
// that ends a box's text spaces the window's box, and is no line of its own.
std::vector<std::string> MessageLines(const std::string& text);

// Standard error while the window runs: "kw9: LINE" for each line of each
// message box, "kw9cli: TEXT" for each note, and the progress as show says.
// Messages come from the window's thread and the workers alike.
class LiveStderr {
 public:
  explicit LiveStderr(std::FILE* stream, ProgressShow show = ProgressShow::kNone)
      : stream_(stream), show_(show), meter_(show) {}
  void Message(const std::string& text);
  void Note(const std::string& text);
  // nowMicros on a monotonic clock.
  void Progress(const ProgressUpdate& update, int64_t nowMicros);
  // Before anything else is written to the stream.
  void ClearProgress();

 private:
  void Line(const std::string& line);

  std::FILE* stream_;
  ProgressShow show_;
  ProgressMeter meter_;
  std::mutex lock_;
  bool barShown_ = false;
};

// Standard output without --json: as kw9cli has always printed it.
std::string TextReport(const Outcome& outcome);
// Standard output with --json: one object and a line end.
std::string JsonReport(const Outcome& outcome);
// One line of the custody log, with its line end.
std::string CustodyLine(const Outcome& outcome, const std::string& utcTime);

// A profile value as JSON writes it: a number, true or false, or a text.
std::string ProfileValueText(const ProfileField& field, const std::string& text);

}  // namespace cli
