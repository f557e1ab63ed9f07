// Which tracker each kw9cli record names, end to end against trackersims
// with serial numbers of their own: the JSON and the custody line of the
// commands that press no Read, the name a download picks, and the profile
// lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/kml_lines.h"
#include "tests/support/kw9cli_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/trackersim_process.h"

namespace {

using nlohmann::json;
using testing::HasSubstr;
using testing::MatchesRegex;
using testing_support::CliRun;
using testing_support::Kw9cli;
using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::Spill;
using testing_support::SplitStamp;
using testing_support::StampPattern;
using testing_support::TrackersimProcess;

struct IdentityRow {
  const char* name;
  std::vector<std::string> sim;
  const char* command;
  int serial;  // 0: the identification fails
  int status;
};

// A row each, so that the runs go side by side.
class Kw9cliIdentityRows : public testing::TestWithParam<IdentityRow> {};

// Catches a record that names another tracker (the serial number of the
// simulator's default, or the window's 0), a field left null although the
// tracker told it, a failed identification that stops the operation or
// goes unsaid, and a download that names its file after nothing.
TEST_P(Kw9cliIdentityRows, EveryRecordNamesTheTrackerItWasRunOn) {
  const IdentityRow& row = GetParam();
  ScratchDir dir;
  TrackersimProcess sim(row.sim);
  ASSERT_TRUE(sim.Running());
  const CliRun run =
      Kw9cli(dir, std::string(row.command) + " --json --log custody.log --port " + sim.Device());
  sim.Stop();
  EXPECT_EQ(run.status, row.status) << run.err;
  const json j = json::parse(run.out);
  const json line = json::parse(Slurp(dir / "custody.log"));
  for (const json& record : {j, line}) {
    if (row.serial == 0) {
      for (const char* key : {"model", "firmwareVersion", "serialNumber", "battery"}) {
        EXPECT_TRUE(record[key].is_null()) << key << " in " << record;
      }
      continue;
    }
    EXPECT_EQ(record["serialNumber"], row.serial);
    EXPECT_EQ(record["model"], row.serial == 2419 ? "KLX-TX9" : "KLX-TX3");
    EXPECT_EQ(record["firmwareVersion"], 20);
    EXPECT_EQ(record["battery"], 4.02);
  }
  EXPECT_EQ(run.err.find("kw9cli: the tracker was not identified (") != std::string::npos,
            row.serial == 0)
      << run.err;
  if (std::string(row.command).rfind("download", 0) != 0) return;
  const std::string file = j["download"]["file"];
  EXPECT_THAT(file, MatchesRegex("track-2417-20[0-9]{6}T[0-9]{6}Z\\.kml"));
  EXPECT_EQ(line["file"], file);
  EXPECT_EQ(j["download"]["outputNamed"], true);
  EXPECT_THAT(SplitStamp(Slurp(dir / file)).stamp,
              MatchesRegex(StampPattern("model KLX-TX3 firmware 20 serial 2417 read 0-[0-9]+ of "
                                        "8192")));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Kw9cliIdentityRows,
    testing::Values(
        IdentityRow{
            "download", {"--size", "64", "--serial", "2417"}, "download --until-end", 2417, 0},
        IdentityRow{"erase",
                    {"--size", "64", "--serial", "2418", "--erase-ms", "200"},
                    "erase --yes",
                    2418,
                    0},
        IdentityRow{"flash_test",
                    {"--size", "64", "--serial", "2419", "--model", "KLX-TX9"},
                    "flash-test",
                    2419,
                    0},
        // Replies the link cannot read: the identification gets nothing, and
        // Go! meets the same wall as ever.
        IdentityRow{"go", {"--size", "64", "--serial", "2420", "--crlf"}, "go", 0, 4}),
    [](const testing::TestParamInfo<IdentityRow>& info) { return std::string(info.param.name); });

// The text output names the file a download without --output chose, on the
// first line; a tracker that does not tell its serial number gives a name
// without it.
TEST(Kw9cliIdentity, ADownloadWithoutOutputPrintsItsName) {
  ScratchDir dir;
  TrackersimProcess sim({"--size", "64", "--serial", "7"});
  ASSERT_TRUE(sim.Running());
  const CliRun run = Kw9cli(dir, "download --until-end --port " + sim.Device());
  sim.Stop();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, MatchesRegex("file=track-7-20[0-9]{6}T[0-9]{6}Z\\.kml\n(.|\n)*"));
  const std::string name = run.out.substr(5, run.out.find('\n') - 5);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{name});
}

// A dry run is logged as one, with the profile it compared; a save names its
// file too. Catches a dry run's exit 7 read as an apply that did not take.
TEST(Kw9cliIdentity, ProfileLinesNameTheirFileAndTheDryRun) {
  ScratchDir dir;
  TrackersimProcess sim({"--size", "64"});
  ASSERT_TRUE(sim.Running());
  Spill(dir / "fleet.json", "{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": 30}}\n");
  const struct {
    std::string args;
    int status;
    const char* file;
    const char* dryRun;  // "": no such key
  } rows[] = {
      {"profile apply fleet.json --dry-run", 7, "fleet.json", "true"},
      {"profile save --output saved.json", 0, "saved.json", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    const CliRun run = Kw9cli(dir, row.args + " --json --log custody.log --port " + sim.Device());
    EXPECT_EQ(run.status, row.status) << run.err;
    const std::string log = Slurp(dir / "custody.log");
    const json line = json::parse(log.substr(log.rfind('\n', log.size() - 2) + 1));
    for (const json& record : {json::parse(run.out), line}) {
      EXPECT_EQ(record["profileFile"], row.file);
      EXPECT_EQ(record.contains("dryRun") ? record["dryRun"].dump() : "", row.dryRun);
      EXPECT_EQ(record["serialNumber"], 2417);
    }
  }
  EXPECT_THAT(Slurp(dir / "custody.log"), HasSubstr("\"result\":\"difference\""));
}

}  // namespace
