#include "cli/exit_codes.h"

#include <array>
#include <string>

namespace cli {

namespace {

constexpr std::array<ExitCause, 9> kCauses = {{
    {kExitInterrupted, "interrupted", "interrupted (Ctrl-C, SIGTERM)"},
    {kExitUsage, "usage",
     "usage error, a malformed profile, or an export INPUT that is no KML file with the memory "
     "dump Read Flash writes"},
    {kExitPort, "port", "the port could not be opened"},
    {kExitNoAnswer, "no answer", "the tracker did not answer, or the link was lost"},
    {kExitFile, "file", "an output file, or standard output, could not be written"},
    {kExitIncomplete, "incomplete", "a download stopped early; the fixes that arrived are kept"},
    {kExitDifference, "difference",
     "verification found a difference (profile apply, download --erase-after, export of a file "
     "whose dump does not give its lines: damaged or edited)"},
    {kExitMessage, "message", "the operation showed another message, or did not complete"},
    {kExitOk, "ok", "success: the operation completed with no message but its own notices"},
}};

struct MessageCause {
  const char* text;
  ExitCode code;
  // The one command the row is about; any command when it is not set.
  bool anyCommand;
  Command command;
  // The text may be followed by a line with the reason ("...\nNo such device").
  bool withReason = false;
};

constexpr MessageCause Any(const char* text, ExitCode code) {
  return {text, code, true, Command::kPorts};
}
constexpr MessageCause Only(Command command, const char* text, ExitCode code) {
  return {text, code, false, command};
}
constexpr MessageCause WithReason(const char* text, ExitCode code) {
  return {text, code, true, Command::kPorts, true};
}

bool Matches(const MessageCause& m, const std::string& text) {
  if (text == m.text) return true;
  const size_t n = std::char_traits<char>::length(m.text);
  return m.withReason && text.size() > n && text.compare(0, n, m.text) == 0 && text[n] == '\n';
}

// Texts exactly as the window shows them, misspellings included.
constexpr std::array<MessageCause, 24> kMessages = {{
    // The operations' own notices.
    Any("Calibration Mode Enabled\n", kExitOk),
    Any("Committing Data\n", kExitOk),
    Any("Done Reading Flash", kExitOk),
    Any("Done Clearing Flash", kExitOk),
    Any("I2C Read Test Passed", kExitOk),
    Any("First select an input file", kExitOk),
    Any("Now select an output file", kExitOk),
    Any("KML file fixed", kExitOk),
    // The port does not open.
    WithReason("Error opening com port", kExitPort),
    Any("Error configuring port", kExitPort),
    Any("error getting timeouts", kExitPort),
    Any("Error setting timeouts", kExitPort),
    // The tracker does not answer, or the line is gone.
    Any("Serial Port Error: Read returned 0 chars. Closing com port", kExitNoAnswer),
    Any("Tracker not responding", kExitNoAnswer),
    Any("Error reading memory size", kExitNoAnswer),
    Any("Error readimg memory size", kExitNoAnswer),
    // Output files. Fix KML's "Error opening file" is about its input.
    Only(Command::kDownload, "Error opening file", kExitFile),
    Only(Command::kDownload, "Error writing file", kExitFile),
    Only(Command::kFixKml, "Error opening output filefile", kExitFile),
    Only(Command::kFixKml, "Error writing file", kExitFile),
    // A download that stopped early.
    Only(Command::kDownload, "Error reading flash", kExitIncomplete),
    // Refusals and failures of the operation itself.
    Any("Please wait until the previous operation completes", kExitMessage),
    Any("Please issue a read command before attempting a write", kExitMessage),
    Any("Data Read Error", kExitMessage),
}};

constexpr std::array<const char*, 8> kNoticeTexts = [] {
  std::array<const char*, 8> texts{};
  size_t n = 0;
  for (const MessageCause& m : kMessages) {
    if (m.code == kExitOk) texts[n++] = m.text;
  }
  return texts;
}();

}  // namespace

std::span<const ExitCause> ExitCauses() {
  return kCauses;
}

const ExitCause& CauseOf(int code) {
  for (const ExitCause& c : kCauses) {
    if (c.code == code) return c;
  }
  return kCauses[7];  // kExitMessage
}

ExitCode CodeOfMessage(const std::string& text, Command command) {
  for (const MessageCause& m : kMessages) {
    if (Matches(m, text) && (m.anyCommand || m.command == command)) return m.code;
  }
  return kExitMessage;
}

std::span<const char* const> NoticeTexts() {
  return kNoticeTexts;
}

ExitCode Worse(ExitCode a, ExitCode b) {
  for (const ExitCause& c : kCauses) {
    if (c.code == a || c.code == b) return c.code;
  }
  return a;
}

}  // namespace cli
