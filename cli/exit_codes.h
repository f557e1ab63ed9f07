// kw9cli's exit codes by cause, and which cause of the window's outcomes
// each stands for.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "link/messages.h"

namespace cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitMessage = 1,
  kExitUsage = 2,
  kExitPort = 3,
  kExitNoAnswer = 4,
  kExitFile = 5,
  kExitIncomplete = 6,
  kExitDifference = 7,
  kExitInterrupted = 130,
};

struct ExitCause {
  ExitCode code;
  const char* result;  // the custody log's and JSON's one word for it
  const char* help;
};
// In order of precedence: when a run meets several causes, the first wins.
// A code may have several words; CauseOf gives its first.
std::span<const ExitCause> ExitCauses();
const ExitCause& CauseOf(int code);

// A Read whose device answered, but not as a tracker: exit 1, with a word
// of its own so that a fleet script can tell a wrong port from a refusal.
inline constexpr char kResultNoTracker[] = "no tracker";

// The code an outcome's cause stands for.
ExitCode CodeOfCause(msg::Cause cause);
// The notices shown in a box, in the catalogue's order, for the help text.
std::vector<const char*> NoticeTexts();

// The cause of the two that takes precedence.
ExitCode Worse(ExitCode a, ExitCode b);

}  // namespace cli
