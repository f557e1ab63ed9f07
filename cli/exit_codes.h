// kw9cli's exit codes by cause, and the one table that says which message of
// the window means which cause.
#pragma once

#include <span>
#include <string>

#include "cli/command_line.h"

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
std::span<const ExitCause> ExitCauses();
const ExitCause& CauseOf(int code);

// The code a message of the window stands for in a command: kExitOk for the
// operation's own notices, kExitMessage for any message not in the table.
ExitCode CodeOfMessage(const std::string& text, Command command);
// The notices, for the help text.
std::span<const char* const> NoticeTexts();

// The cause of the two that takes precedence.
ExitCode Worse(ExitCode a, ExitCode b);

}  // namespace cli
