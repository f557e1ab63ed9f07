// kw9cli: the main window without a screen, for scripts, fleets and support
// work. The command line becomes a plain description of what to do
// (cli/command_line), the session runs it on the window (cli/session), and
// the writers report it (cli/report).
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "app/file_checks.h"
#include "cli/command_line.h"
#include "cli/report.h"
#include "cli/session.h"
#include "cli/utc_time.h"
#include "kw9_version.h"
#include "platform/os/os.h"

namespace {

void UsageProblem(const std::string& problem, const std::vector<std::string>& suggestions,
                  const cli::Invocation& invocation) {
  std::fputs(cli::UsageErrorText(problem, suggestions, invocation).c_str(), stderr);
}

// False when standard output did not take the text (a full disk behind a
// redirection, a closed pipe).
bool WriteOut(const std::string& text) {
  const bool written = std::fputs(text.c_str(), stdout) >= 0;
  return std::fflush(stdout) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  const cli::ParsedCommandLine parsed = cli::ParseCommandLine(args);
  using Action = cli::ParsedCommandLine::Action;
  if (parsed.action == Action::kHelp) {
    const std::string& topic = parsed.helpTopic;
    return WriteOut(topic.empty() ? cli::HelpText() : cli::CommandHelpText(topic)) ? 0
                                                                                   : cli::kExitFile;
  }
  if (parsed.action == Action::kVersion) {
    return WriteOut("kw9cli " KW9_VERSION "\n") ? 0 : cli::kExitFile;
  }
  if (parsed.action == Action::kUsageError) {
    UsageProblem(parsed.problem, parsed.suggestions, parsed.invocation);
    if (parsed.invocation.json) {
      cli::Outcome outcome;
      outcome.invocation = parsed.invocation;
      outcome.notes.push_back(parsed.problem);
      outcome.exitCode = cli::kExitUsage;
      WriteOut(cli::JsonReport(outcome));
    }
    return cli::kExitUsage;
  }

  platform::CatchInterrupts();
  const cli::Invocation& invocation = parsed.invocation;
  // A terminal's line redraws; a log gets a line of its own now and then.
  using cli::ProgressShow;
  const ProgressShow show = invocation.quiet ? ProgressShow::kNone
                            : invocation.progressLines || !platform::StandardErrorIsTerminal()
                                ? ProgressShow::kLines
                                : ProgressShow::kRedraw;
  cli::LiveStderr live(stderr, show);
  cli::LiveHooks hooks;
  hooks.message = [&](const std::string& text) { live.Message(text); };
  hooks.note = [&](const std::string& text) { live.Note(text); };
  if (show != ProgressShow::kNone) {
    hooks.progress = [&](const cli::ProgressUpdate& update) {
      live.Progress(update, platform::MonotonicMicros());
    };
  }
  // The custody log is an output too: on the port, its line would be commands;
  // without its folder, the run's line would be lost after the run.
  std::string logRefusal =
      invocation.log.empty() ? "" : OutputRefusal(invocation.log, invocation.port);
  if (logRefusal.empty() && !invocation.log.empty() && !invocation.port.empty()) {
    logRefusal = FolderRefusal(invocation.log);
  }
  cli::Outcome outcome;
  if (logRefusal.empty()) {
    outcome = cli::Run(invocation, hooks);
  } else {
    outcome.invocation = invocation;
    live.Note(logRefusal);
    outcome.notes.push_back(logRefusal);
    outcome.exitCode = cli::kExitFile;
  }
  live.ClearProgress();
  // A problem with the command line found in the window (a hidden field) or
  // with export's date; a malformed profile has already said what is wrong,
  // and so has an export's input that is no track.
  if (outcome.exitCode == cli::kExitUsage && !outcome.usageProblem.empty() &&
      invocation.command != cli::Command::kProfileApply) {
    UsageProblem(outcome.usageProblem, {}, invocation);
    outcome.notes.push_back(outcome.usageProblem);
  }
  std::error_code why;
  if (!invocation.log.empty() && logRefusal.empty() &&
      !platform::AppendToFile(invocation.log, cli::CustodyLine(outcome, cli::UtcNow()), &why)) {
    const std::string note =
        "cannot append to " + invocation.log + (why ? ": " + why.message() : std::string());
    live.Note(note);
    outcome.notes.push_back(note);
    outcome.exitCode = cli::Worse(outcome.exitCode, cli::kExitFile);
  }
  // The report is the command's output: one that was lost is no success.
  if (!WriteOut(invocation.json ? cli::JsonReport(outcome) : cli::TextReport(outcome))) {
    live.Note("cannot write the report to standard output");
    return cli::Worse(outcome.exitCode, cli::kExitFile);
  }
  return outcome.exitCode;
}
