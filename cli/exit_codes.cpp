#include "cli/exit_codes.h"

#include <array>
#include <string>

namespace cli {

namespace {

constexpr std::array<ExitCause, 10> kCauses = {{
    {kExitInterrupted, "interrupted", "interrupted (Ctrl-C, SIGTERM)"},
    {kExitUsage, "usage",
     "usage error, a malformed profile, an input that is no regular file, or an export INPUT that "
     "is no KML file with the memory dump Read Flash writes"},
    {kExitPort, "port", "the port could not be opened"},
    {kExitNoAnswer, "no answer", "the tracker did not answer, or the link was lost"},
    {kExitFile, "file",
     "an output file, or standard output, could not be written, or is no file (a terminal, the "
     "port, a FIFO)"},
    {kExitIncomplete, "incomplete", "a download stopped early; the fixes that arrived are kept"},
    {kExitDifference, "difference",
     "verification found a difference (profile apply, a profile of another model, download "
     "--erase-after, export of a file whose dump does not give its lines: damaged or edited)"},
    {kExitMessage, "message", "the operation showed another message, or did not complete"},
    {kExitMessage, kResultNoTracker,
     "the device on the port answered Read, but not as a tracker (a GPS receiver or another "
     "device on that port)"},
    {kExitOk, "ok", "success: the operation completed with no message but its own notices"},
}};

}  // namespace

std::span<const ExitCause> ExitCauses() {
  return kCauses;
}

const ExitCause& CauseOf(int code) {
  for (const ExitCause& c : kCauses) {
    if (c.code == code) return c;
  }
  return kCauses[7];  // kExitMessage's first
}

ExitCode CodeOfCause(msg::Cause cause) {
  switch (cause) {
    case msg::Cause::kOk:
      return kExitOk;
    case msg::Cause::kMessage:
      return kExitMessage;
    case msg::Cause::kUsage:
      return kExitUsage;
    case msg::Cause::kPort:
      return kExitPort;
    case msg::Cause::kSilent:
      return kExitNoAnswer;
    case msg::Cause::kOutput:
      return kExitFile;
    case msg::Cause::kPartial:
      return kExitIncomplete;
    case msg::Cause::kVerify:
      return kExitDifference;
    case msg::Cause::kInterrupted:
      return kExitInterrupted;
  }
  return kExitMessage;
}

std::vector<const char*> NoticeTexts() {
  std::vector<const char*> texts;
  for (const msg::Entry& e : msg::Catalogue()) {
    if (e.cause == msg::Cause::kOk && e.inBox) texts.push_back(e.text);
  }
  return texts;
}

ExitCode Worse(ExitCode a, ExitCode b) {
  for (const ExitCause& c : kCauses) {
    if (c.code == a || c.code == b) return c.code;
  }
  return a;
}

}  // namespace cli
