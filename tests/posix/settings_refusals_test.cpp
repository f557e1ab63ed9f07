// What kw9cli refuses to write to a tracker: a shutdown voltage the tracker
// would store as another one, and a profile saved from another model unless
// --any-model says it fits. Against trackersim, whose transcript counts the
// settings writes it received.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/kw9cli_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/trackersim_process.h"

namespace {

using testing::HasSubstr;
using testing_support::CliRun;
using testing_support::Kw9cli;
using testing_support::ScratchDir;
using testing_support::SettingsWrites;
using testing_support::Slurp;
using testing_support::Spill;
using testing_support::TrackersimProcess;

std::string Profile(const std::string& about, const std::string& voltage) {
  return "{\"kw9-profile\": 1, " + about + "\"settings\": {\"storeInterval\": 42, " +
         "\"shutdownVoltage\": \"" + voltage + "\"}}";
}

// Before, 9.99 stored 6.59 V and "abc" or -1 stored 0 V, each with "Write
// Complete", and a profile of another model was applied without a word.
TEST(SettingsRefusals, WriteAndProfiles) {
  const std::string other = "\"about\": {\"model\": \"KLX-TX9\"}, ";
  const std::string same = "\"about\": {\"model\": \"KLX-TX3\"}, ";
  const char* const range = "Please enter a voltage between 0.00 and 6.59.";
  const std::string tooLarge = "{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": 99999}}";
  const struct {
    const char* what;
    std::string args;     // after the command's --port
    std::string profile;  // p.json's text, when the command reads one
    int status;
    std::string says;
    int writes;
  } rows[] = {
      {"write 9.99", "write --shutdown-voltage 9.99", "", 1, range, 0},
      {"write abc", "write --shutdown-voltage abc", "", 1, range, 0},
      {"write -1", "write --shutdown-voltage -1", "", 1, range, 0},
      {"write 6.59", "write --shutdown-voltage 6.59", "", 0, "", 6},
      {"apply 9.99", "profile apply p.json", Profile(same, "9.99"), 1, range, 0},
      {"dry run 9.99", "profile apply p.json --dry-run", Profile(same, "9.99"), 1, range, 0},
      {"apply 3.5", "profile apply p.json", Profile(same, "3.5"), 0, "", 6},
      {"another model", "profile apply p.json", Profile(other, "3.5"), 7,
       "was saved from a KLX-TX9, this tracker is a KLX-TX3", 0},
      {"another model, dry run", "profile apply p.json --dry-run", Profile(other, "3.5"), 7,
       "--any-model applies it anyway", 0},
      {"another model, --any-model", "profile apply p.json --any-model", Profile(other, "3.5"), 0,
       "", 6},
      {"no model named", "profile apply p.json", Profile("", "3.5"), 0, "", 6},
      // The window refuses it once typed; the dry run before it says so too.
      {"dry run 99999", "profile apply p.json --dry-run", tooLarge, 1,
       "kw9cli: storeInterval 99999: Please enter an integer between 1 and 255.", 0},
      {"apply 99999", "profile apply p.json", tooLarge, 1,
       "kw9: storeInterval: Please enter an integer between 1 and 255.", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir, aside;
    if (!row.profile.empty()) Spill(dir / "p.json", row.profile);
    const std::string transcript = aside / "transcript";
    TrackersimProcess sim({"--size", "64", "--transcript", transcript});
    ASSERT_TRUE(sim.Running());
    const CliRun run = Kw9cli(dir, row.args + " --port " + sim.Device());
    sim.Stop();
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_THAT(run.err, HasSubstr(row.says));
    EXPECT_EQ(SettingsWrites(Slurp(transcript)), row.writes);
  }
}

}  // namespace
