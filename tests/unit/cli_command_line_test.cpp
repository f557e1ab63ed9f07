// kw9cli's command line, parsed without a window or a port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "tracklog/track_export.h"

namespace {

using cli::Command;
using Action = cli::ParsedCommandLine::Action;

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w == "''" ? "" : w);
  return words;
}

// Catches options taken by commands that must refuse them (a --yes that
// would erase, an --output a read ignores), values swallowed or lost, and
// options before the command word that escape the command's checks.
TEST(CliCommandLine, UsageErrorsNameTheProblem) {
  const struct {
    const char* line;
    const char* problem;
  } cases[] = {
      {"", "no command given"},
      {"frobnicate --port X", "unknown command frobnicate"},
      {"profile", "profile needs save or apply"},
      {"profile load --port X", "unknown command profile load"},
      {"read", "read needs --port NAME"},
      {"read --port ''", "read needs --port NAME"},
      {"download --output t.kml", "download needs --port NAME"},
      {"read --port X --output f", "read takes no --output"},
      {"--yes read --port X", "read takes no --yes"},
      {"erase --port X --erase-after", "erase takes no --erase-after"},
      {"profile save --port X --output f --dry-run", "profile save takes no --dry-run"},
      {"read --port X --store-interval 5", "read takes no field options"},
      {"write --port X --enable-nmea 2", "--enable-nmea takes 0 or 1"},
      {"write --port X --store-interval", "--store-interval needs a value"},
      {"write --port X --bogus 1", "unknown option --bogus"},
      {"read --port X extra", "unexpected argument extra"},
      {"fix-kml a", "fix-kml needs INPUT OUTPUT"},
      {"fix-kml a b c", "fix-kml takes only INPUT OUTPUT"},
      {"export --to kml a.kml", "--to takes gpx, csv, geojson, kml22 or svg"},
      {"export --to gpx a.kml --port X", "export takes no --port"},
      {"ports --json --port COM1", "ports takes no --port"},
      {"download --port X --output t.kml --kml22 t.kml", "--kml22 names the --output file"},
      {"download --port X --output t.kml --gpx ''", "--gpx needs a file name"},
  };
  for (const auto& c : cases) {
    const cli::ParsedCommandLine parsed = cli::ParseCommandLine(Words(c.line));
    EXPECT_EQ(parsed.action, Action::kUsageError) << c.line;
    EXPECT_EQ(parsed.problem, c.problem) << c.line;
  }
}

// Catches fields lost, merged or reordered (a user types them in order,
// repeats included), radio commands run outside calibration mode, an
// --erase-after taken for --yes, exports lost, and --help not winning.
TEST(CliCommandLine, RunsCarryWhatWasAsked) {
  cli::ParsedCommandLine p = cli::ParseCommandLine(
      Words("--json write --port COM3 --store-interval 30 --enable-nmea 1 --store-interval 40"));
  ASSERT_EQ(p.action, Action::kRun) << p.problem;
  EXPECT_TRUE(p.invocation.json);
  EXPECT_FALSE(p.invocation.calibration);
  ASSERT_EQ(p.invocation.fields.size(), 3u);
  EXPECT_STREQ(p.invocation.fields[0].field->member, "storeInterval");
  EXPECT_EQ(p.invocation.fields[1].field->control, IDC_ENABLE_NMEA);
  EXPECT_EQ(p.invocation.fields[2].value, "40");

  p = cli::ParseCommandLine(Words("profile apply fleet.json --port /dev/ttyUSB0 --dry-run"));
  ASSERT_EQ(p.action, Action::kRun) << p.problem;
  EXPECT_EQ(p.invocation.command, Command::kProfileApply);
  EXPECT_EQ(p.invocation.operands, std::vector<std::string>{"fleet.json"});
  EXPECT_TRUE(p.invocation.dryRun);
  EXPECT_TRUE(p.invocation.calibration) << "radio fields are shown in calibration mode only";

  p = cli::ParseCommandLine(
      Words("download --port X --erase-after --output t.kml --kml22 a.kml --csv t.csv --kml22 b"));
  ASSERT_EQ(p.action, Action::kRun) << p.problem;
  EXPECT_TRUE(p.invocation.eraseAfter);
  EXPECT_FALSE(p.invocation.yes) << "--erase-after is a consent of its own, not --yes";
  ASSERT_EQ(p.invocation.exports.size(), 3u);
  EXPECT_EQ(p.invocation.exports[1].format + p.invocation.exports[1].path, "csvt.csv");
  EXPECT_EQ(p.invocation.exports[2].format + p.invocation.exports[2].path, "kml22b");

  p = cli::ParseCommandLine(Words("export --date 2026-03-01 t.kml --to geojson"));
  ASSERT_EQ(p.action, Action::kRun) << p.problem;
  EXPECT_EQ(p.invocation.operands, std::vector<std::string>{"t.kml"});
  EXPECT_EQ(p.invocation.to + " " + p.invocation.date, "geojson 2026-03-01");
  EXPECT_EQ(p.invocation.output, "") << "the default name is the export's to choose";

  // A usage error still knows to answer in JSON.
  p = cli::ParseCommandLine(Words("read --json"));
  EXPECT_EQ(p.action, Action::kUsageError);
  EXPECT_TRUE(p.invocation.json);
  EXPECT_TRUE(p.invocation.commandKnown);

  EXPECT_EQ(cli::ParseCommandLine(Words("write --bogus --help")).action, Action::kHelp);
  EXPECT_EQ(cli::ParseCommandLine(Words("--version")).action, Action::kVersion);
}

// The names the command line takes are the ones the exports know: a name
// only one side has would pass the parser and fail after a download.
TEST(CliCommandLine, EveryFormatNameIsAnExportFormat) {
  ASSERT_EQ(cli::TrackFormatNames().size(), 5u);
  for (const char* name : cli::TrackFormatNames()) {
    const std::optional<TrackFormat> format = TrackFormatNamed(name);
    ASSERT_TRUE(format) << name;
    EXPECT_STREQ(TrackFormatName(*format), name);
  }
}

// Every row of the format table is a whole format: catches a row whose
// option clashes with another option or runs out of option bits, a row whose
// option or name asks for another row's format, and two rows that would
// write the same default file.
TEST(CliCommandLine, EveryFormatRowRoundTripsThroughTheParser) {
  std::set<std::string> names, options, paths;
  for (size_t i = 0; i < TrackFormats().size(); ++i) {
    const TrackFormatSpec& row = TrackFormats()[i];
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(names.insert(row.name).second);
    EXPECT_TRUE(options.insert(row.option).second);
    const std::string path = DefaultExportPath("dir/track.kml", TrackFormatAt(i));
    EXPECT_NE(path, "dir/track.kml");
    EXPECT_TRUE(paths.insert(path).second) << path;
    ASSERT_NE(row.write, nullptr);

    cli::ParsedCommandLine p =
        cli::ParseCommandLine({"download", "--port", "X", "--output", "t.kml", row.option, "f"});
    ASSERT_EQ(p.action, Action::kRun) << p.problem;
    ASSERT_EQ(p.invocation.exports.size(), 1u);
    EXPECT_EQ(TrackFormatNamed(p.invocation.exports[0].format), TrackFormatAt(i));
    EXPECT_EQ(p.invocation.exports[0].path, "f");
    p = cli::ParseCommandLine({"export", "--to", row.name, "t.kml"});
    ASSERT_EQ(p.action, Action::kRun) << p.problem;
    EXPECT_EQ(TrackFormatNamed(p.invocation.to), TrackFormatAt(i));
  }
}

// Catches a cause that maps to the wrong exit status (scripts rely on them),
// or that loses to a vaguer one when both happen in one run. Which handler
// reports which cause is checked where the handlers run (Kw9cliExitCodes).
TEST(CliExitCodes, CausesMapToTheirCodes) {
  using C = msg::Cause;
  const std::pair<C, cli::ExitCode> causes[] = {
      {C::kOk, cli::kExitOk},
      {C::kMessage, cli::kExitMessage},
      {C::kUsage, cli::kExitUsage},
      {C::kPort, cli::kExitPort},
      {C::kSilent, cli::kExitNoAnswer},
      {C::kOutput, cli::kExitFile},
      {C::kPartial, cli::kExitIncomplete},
      {C::kVerify, cli::kExitDifference},
      {C::kInterrupted, cli::kExitInterrupted},
  };
  for (const auto& [cause, code] : causes) {
    EXPECT_EQ(cli::CodeOfCause(cause), code) << static_cast<int>(cause);
  }
  EXPECT_EQ(cli::Worse(cli::kExitMessage, cli::kExitNoAnswer), cli::kExitNoAnswer);
  EXPECT_EQ(cli::Worse(cli::kExitIncomplete, cli::kExitNoAnswer), cli::kExitNoAnswer);
  EXPECT_EQ(cli::Worse(cli::kExitDifference, cli::kExitMessage), cli::kExitDifference);
  EXPECT_EQ(cli::Worse(cli::kExitIncomplete, cli::kExitInterrupted), cli::kExitInterrupted);
  EXPECT_EQ(cli::Worse(cli::kExitOk, cli::kExitOk), cli::kExitOk);
}

// An invocation as one line, to compare with a table's row: what it would
// run, or the help it prints, or the usage error standard error gets up to
// the line that says where the help is.
std::string ParseOutcome(const std::string& line) {
  const cli::ParsedCommandLine p = cli::ParseCommandLine(Words(line));
  const cli::Invocation& inv = p.invocation;
  switch (p.action) {
    case Action::kHelp:
      return "help " + p.helpTopic;
    case Action::kVersion:
      return "version";
    case Action::kUsageError: {
      const std::string text = cli::UsageErrorText(p.problem, p.suggestions, inv);
      std::string shown = text.substr(0, text.rfind("\n("));
      std::replace(shown.begin(), shown.end(), '\n', '|');
      return "2 " + shown;
    }
    case Action::kRun:
      break;
  }
  std::string s = cli::SpecOf(inv.command).name;
  if (!inv.port.empty()) s += " port=" + inv.port;
  if (!inv.output.empty()) s += " output=" + inv.output;
  if (!inv.log.empty()) s += " log=" + inv.log;
  if (!inv.to.empty()) s += " to=" + inv.to;
  if (!inv.date.empty()) s += " date=" + inv.date;
  for (const std::string& o : inv.operands) s += " [" + o + "]";
  for (const cli::FieldValue& f : inv.fields)
    s += std::string(" ") + f.field->member + "=" + f.value;
  for (const cli::ExportFile& e : inv.exports) s += " " + e.format + "=" + e.path;
  if (inv.json) s += " json";
  if (inv.yes) s += " yes";
  if (inv.eraseAfter) s += " erase-after";
  return s;
}

// The forms people type from habit: "=" values (a value may hold "="), short
// options, "--" before operands that look like options, help for one
// command, and mistypes answered with the nearest names. Catches a short
// form mapped to the wrong option, a value split at the wrong "=", a switch
// that swallows "=...", "--" ignored or help found past it, and suggestions
// that are missing, wrong, or offered for words near nothing.
TEST(CliCommandLine, ConventionsTable) {
  const struct {
    const char* line;
    const char* outcome;
  } rows[] = {
      {"--port=COM3 read", "read port=COM3"},
      {"read -p COM3 -j", "read port=COM3 json"},
      {"-y erase -p X", "erase port=X yes"},
      {"download -p X -o t.kml --gpx=t.gpx --erase-after",
       "download port=X output=t.kml gpx=t.gpx erase-after"},
      {"download -p X --output=a=b.kml --log=c.log", "download port=X output=a=b.kml log=c.log"},
      {"write -p X --store-interval=30 --enable-nmea=1",
       "write port=X storeInterval=30 enableNmea=1"},
      {"export --to=svg --date=2026-03-01 t.kml", "export to=svg date=2026-03-01 [t.kml]"},
      {"fix-kml -- --odd.kml -p", "fix-kml [--odd.kml] [-p]"},
      {"fix-kml -draft.kml out.kml", "fix-kml [-draft.kml] [out.kml]"},
      {"fix-kml a.kml -- --help", "fix-kml [a.kml] [--help]"},
      {"-- read -p X", "2 kw9cli: unexpected argument -p"},
      {"read --port=", "2 kw9cli: read needs --port NAME"},
      {"read -p", "2 kw9cli: --port needs a value"},
      {"read --json=1 -p X", "2 kw9cli: --json takes no value"},
      {"read --help=1", "2 kw9cli: --help takes no value"},
      {"write -p X --enable-nmea=2", "2 kw9cli: --enable-nmea takes 0 or 1"},
      {"export --to=kml t.kml", "2 kw9cli: --to takes gpx, csv, geojson, kml22 or svg"},
      {"-y read -p X", "2 kw9cli: read takes no --yes"},
      {"raed -p X", "2 kw9cli: unknown command raed|kw9cli: did you mean read?"},
      {"profile sve", "2 kw9cli: unknown command profile sve|kw9cli: did you mean profile save?"},
      {"frobnicate", "2 kw9cli: unknown command frobnicate"},
      {"xy", "2 kw9cli: unknown command xy"},
      {"read --prot=X", "2 kw9cli: unknown option --prot|kw9cli: did you mean --port?"},
      {"download --out t.kml", "2 kw9cli: unknown option --out|kw9cli: did you mean --output?"},
      {"download --kml t.kml", "2 kw9cli: unknown option --kml|kw9cli: did you mean --kml22?"},
      {"write --store-intervall 5",
       "2 kw9cli: unknown option --store-intervall|kw9cli: did you mean --store-interval?"},
      {"--ver", "2 kw9cli: unknown option --ver|kw9cli: did you mean --version or --verify?"},
      {"read --bogus", "2 kw9cli: unknown option --bogus"},
      {"help", "help "},
      {"help download", "help download"},
      {"help help", "help "},
      {"help profile apply", "help profile apply"},
      {"-p X profile --help", "help profile"},
      {"read -h", "help read"},
      {"frobnicate --help", "help "},
      {"help raed", "2 kw9cli: unknown command raed|kw9cli: did you mean read?"},
      {"-V", "version"},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseOutcome(row.line), row.outcome) << row.line;
  // Where the help is: the command's own once it is known.
  const cli::ParsedCommandLine known = cli::ParseCommandLine(Words("read --prot X"));
  EXPECT_THAT(cli::UsageErrorText(known.problem, known.suggestions, known.invocation),
              testing::EndsWith("\n(kw9cli help read shows its options)\n"));
}

// The help of one command is written from the tables the parser reads:
// catches an example that no longer parses, an option listed that the
// command refuses or one it takes left out, and lines too wide for the
// manual page.
TEST(CliCommandLine, CommandHelpMatchesTheParser) {
  for (const cli::CommandSpec& c : cli::Commands()) {
    SCOPED_TRACE(c.name);
    const std::string help = cli::CommandHelpText(c.name);
    const std::string usage = std::string("usage: kw9cli ") + c.name;
    EXPECT_EQ(help.rfind(usage, 0), 0u) << help;
    EXPECT_TRUE(help[usage.size()] == ' ' || help[usage.size()] == '\n') << help;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;

    std::istringstream examples(c.examples);
    std::vector<std::string> example;
    for (std::string line; std::getline(examples, line);) {
      example = Words(line.substr(line.find(' ') + 1));
      const cli::ParsedCommandLine p = cli::ParseCommandLine(example);
      ASSERT_EQ(p.action, Action::kRun) << line << ": " << p.problem;
      EXPECT_EQ(p.invocation.command, c.command) << line;
    }
    ASSERT_FALSE(example.empty());
    const size_t from = help.find("\nOptions:\n");
    const std::string options = help.substr(from, help.find("\n\n", from + 1) - from);
    for (const cli::OptionSpec& o : cli::Options()) {
      if (*o.name == '\0') continue;
      std::vector<std::string> args = example;
      args.push_back(o.name);
      if (o.value != nullptr) {
        args.push_back(o.bit == cli::kOptTo ? "gpx" : o.bit == cli::kOptProgress ? "lines" : "v.x");
      }
      const bool listed = options.find(std::string(" ") + o.name + " ") != std::string::npos;
      EXPECT_EQ(cli::ParseCommandLine(args).action == Action::kRun, listed) << o.name;
    }
  }
  EXPECT_EQ(cli::CommandHelpText("profile").find("usage: kw9cli profile save"), 0u);
  EXPECT_NE(cli::CommandHelpText("profile").find("usage: kw9cli profile apply"), std::string::npos);
}

}  // namespace
