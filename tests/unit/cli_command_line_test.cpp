// kw9cli's command line, parsed without a window or a port.
#include <gtest/gtest.h>

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
      {"download --port X", "download needs --output FILE"},
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

}  // namespace
