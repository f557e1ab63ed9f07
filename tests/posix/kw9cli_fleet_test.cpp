// kw9cli for fleets and scripts, end to end against trackersim over real
// pseudo-terminals: profiles, exit codes, JSON (read back with a JSON parser
// nobody here wrote), the erase after a download, interrupts, the custody
// log, tracks in other formats and the port list.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kw9_version.h"
#include "tests/support/external_tool.h"
#include "tests/support/trackersim_process.h"
#include "tracklog/track_export.h"

extern char** environ;

using nlohmann::json;
using testing::HasSubstr;
using testing_support::RunTool;
using testing_support::TrackersimProcess;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spill(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class ScratchDir {
 public:
  ScratchDir() {
    static int serial = 0;
    path_ = testing::TempDir() + "kw9cli_fleet." + std::to_string(getpid()) + "." +
            std::to_string(++serial);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

struct CliRun {
  int status = -1;
  std::string out, err;
  json Json() const { return json::parse(out); }  // throws on anything but JSON
};

// Run in dir. Arguments go through the shell: callers quote what needs it.
CliRun Kw9cli(const ScratchDir& dir, const std::string& arguments) {
  const std::string out = dir / "cli.out", err = dir / "cli.err";
  const int raw = std::system(("cd '" + dir / "" + "' && " + KW9_KW9CLI + " " + arguments + " >" +
                               out + " 2>" + err + " </dev/null")
                                  .c_str());
  CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> CoordinateLines(const std::string& kml) {
  std::vector<std::string> track;
  bool inside = false;
  for (const std::string& line : Lines(kml)) {
    if (line.find("</coordinates>") != std::string::npos) break;
    if (inside) track.push_back(line);
    if (line.find("<coordinates>") != std::string::npos) inside = true;
  }
  return track;
}

// The number of settings-memory writes ('Y' and its two bytes) in a transcript.
int SettingsWrites(const std::string& transcript) {
  int writes = 0;
  for (size_t i = 0; i + 2 < transcript.size(); ++i) {
    if (transcript[i] == 'Y') ++writes, i += 2;
  }
  return writes;
}

// The settings and radio of a saved profile, without the "about" part.
json Settings(const std::string& path) {
  json profile = json::parse(Slurp(path));
  profile.erase("about");
  return profile;
}

// Tracker A is set up unlike a fresh one, its profile goes to a fresh B, and
// B then saves the very same profile. Catches a field lost or mistyped on
// the way, identity copied from A, and a dry run that writes.
TEST(Kw9cliProfiles, RoundTripBetweenTwoTrackers) {
  ScratchDir dir;
  TrackersimProcess a({"--size", "64"});
  TrackersimProcess b({"--size", "64"});
  ASSERT_TRUE(a.Running() && b.Running());
  ASSERT_EQ(Kw9cli(dir, "write --port " + a.Device() +
                            " --store-interval 42 --transmit-slot 7 --shutdown-voltage 3.5"
                            " --enable-nmea 1 --wrap-memory 0 --meters-to-feet 1")
                .status,
            0);
  ASSERT_EQ(Kw9cli(dir, "update --port " + a.Device() +
                            " --serial-number 4321 --radio-hp 5 --radio-dt 1234 --radio-rr B")
                .status,
            0);
  const std::string profileA = dir / "a.json";
  const CliRun save = Kw9cli(dir, "profile save --port " + a.Device() + " --output " + profileA);
  ASSERT_EQ(save.status, 0) << save.err;
  EXPECT_EQ(save.out, "");
  const json saved = json::parse(Slurp(profileA));
  EXPECT_EQ(saved["kw9-profile"], 1);
  EXPECT_EQ(saved["settings"]["storeInterval"], 42);
  EXPECT_EQ(saved["settings"]["shutdownVoltage"], "3.50");
  EXPECT_EQ(saved["settings"]["enableNmea"], true);
  EXPECT_EQ(saved["radio"]["radioRR"], "B");
  EXPECT_EQ(saved["about"]["model"], "KLX-TX3");
  EXPECT_EQ(saved["about"]["firmwareVersion"], 20);
  EXPECT_THAT(Slurp(profileA), testing::Not(HasSubstr("4321"))) << "no identity in a profile";

  const std::string expectedDiff =
      "storeInterval: profile 42, tracker 10\n"
      "transmitSlot: profile 7, tracker 0\n"
      "shutdownVoltage: profile \"3.50\", tracker \"3.30\"\n"
      "wrapMemory: profile false, tracker true\n"
      "metersToFeet: profile true, tracker false\n"
      "enableNmea: profile true, tracker false\n"
      "radioHP: profile \"5\", tracker \"3\"\n"
      "radioDT: profile \"1234\", tracker \"FFFF\"\n"
      "radioRR: profile \"B\", tracker \"A\"\n";
  const CliRun dry =
      Kw9cli(dir, "profile apply " + profileA + " --port " + b.Device() + " --dry-run");
  EXPECT_EQ(dry.status, 7);
  EXPECT_EQ(dry.out, expectedDiff);
  EXPECT_THAT(Kw9cli(dir, "read --port " + b.Device()).out, HasSubstr("\nstoreInterval=10\n"))
      << "the dry run wrote";

  const CliRun apply =
      Kw9cli(dir, "profile apply " + profileA + " --port " + b.Device() + " --json");
  ASSERT_EQ(apply.status, 0) << apply.err;
  const json applied = apply.Json();
  EXPECT_EQ(applied["profile"]["differences"].size(), 9u);
  EXPECT_EQ(applied["profile"]["differences"][0],
            (json{{"field", "storeInterval"}, {"profile", 42}, {"tracker", 10}}));
  EXPECT_EQ(applied["profile"]["remaining"], json::array());
  EXPECT_EQ(applied["messages"], (json{"Calibration Mode Enabled\n", "Committing Data\n"}));

  ASSERT_EQ(Kw9cli(dir, "profile save --port " + b.Device() + " --output " + dir / "b.json").status,
            0);
  EXPECT_EQ(Settings(dir / "b.json"), Settings(profileA));
  const json readB = Kw9cli(dir, "read --json --port " + b.Device()).Json();
  EXPECT_EQ(readB["window"]["serialNumber"], 2417) << "B keeps its own serial number";
  EXPECT_EQ(readB["window"]["radioSerialLabel"], "Serial Number 0042C15B7E19A3");
  EXPECT_EQ(readB["messages"], json::array()) << "serial digits agree with the number";
  const CliRun again =
      Kw9cli(dir, "profile apply " + profileA + " --port " + b.Device() + " --dry-run");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
}

// A tracker that acknowledges a write but keeps the old byte must not pass
// for one that took it; a value the window refuses must reach no tracker;
// a malformed profile must not even open the port.
TEST(Kw9cliProfiles, ApplyReportsWhatDidNotTake) {
  ScratchDir dir;
  const std::string profile = dir / "p.json";
  const std::string transcript = dir / "transcript.bin";
  struct Case {
    const char* what;
    std::string profile;
    std::vector<std::string> fault;
    int status;
    std::string errPart;
    int writes;  // settings-memory writes the tracker got
  };
  const Case cases[] = {
      // Write sends 32, 33, 34, 17, 18, 16: the second is the store interval.
      {"ignored write",
       R"({"kw9-profile": 1, "settings": {"storeInterval": 42, "enableNmea": true}})",
       {"--ignore-write", "2"},
       7,
       "kw9cli: storeInterval did not take: the tracker has 10\n",
       6},
      {"refused value",
       R"({"kw9-profile": 1, "settings": {"storeInterval": 0}, "radio": {"radioHP": "5"}})",
       {},
       1,
       "kw9: Please enter an integer between 1 and 255.\n",
       0},
      // Only Update checks the length: it must come before Write.
      {"radio value too long",
       R"({"kw9-profile": 1, "settings": {"storeInterval": 42}, "radio": {"radioHP": ")" +
           std::string(64, '5') + "\"}}",
       {},
       1,
       "kw9: Please enter no more than 63 characters.\n",
       0},
      {"malformed",
       "{\"kw9-profile\": 1,\n\"settings\": {\"storeIntervall\": 5}}",
       {},
       2,
       "p.json:2: unknown field \"storeIntervall\" in \"settings\"\n",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Spill(profile, c.profile);
    std::vector<std::string> options = {"--size", "64", "--transcript", transcript};
    options.insert(options.end(), c.fault.begin(), c.fault.end());
    TrackersimProcess sim(options);
    ASSERT_TRUE(sim.Running());
    const CliRun run =
        Kw9cli(dir, "profile apply " + profile + " --port " + sim.Device() + " --json");
    sim.Stop();
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, HasSubstr(c.errPart));
    EXPECT_EQ(run.Json()["exitCode"], c.status);
    EXPECT_EQ(SettingsWrites(Slurp(transcript)), c.writes);
    if (c.status == 2) {
      EXPECT_EQ(Slurp(transcript), "") << "the port was opened";
    }
  }
}

// Scripts branch on the exit status: each cause has its own, the same with
// and without --json, and the JSON holds what the text output says.
TEST(Kw9cliExitCodes, EachCauseHasItsCode) {
  ScratchDir dir;
  TrackersimProcess good({"--size", "64"});
  TrackersimProcess dropping({"--size", "64", "--drop-after", "any:1"});
  TrackersimProcess shortBlocks({"--size", "64", "--short-block-after", "J:100"});
  ASSERT_TRUE(good.Running() && dropping.Running() && shortBlocks.Running());
  struct Case {
    int status;
    std::string arguments;
    std::string result;
  };
  const Case cases[] = {
      {0, "read --port " + good.Device(), "ok"},
      {1, "write --store-interval 0 --port " + good.Device(), "message"},
      {2, "read --port " + good.Device() + " --store-interval 5", "usage"},
      {3, "read --port /dev/kw9-no-such-port", "port"},
      {4, "flash-test --port " + dropping.Device(), "no answer"},
      {5, "download --port " + good.Device() + " --output " + dir / "no/such/dir.kml", "file"},
      {6, "download --port " + shortBlocks.Device() + " --output " + dir / "short.kml",
       "incomplete"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CliRun text = Kw9cli(dir, c.arguments);
    EXPECT_EQ(text.status, c.status) << text.err;
    if (c.status == 4) continue;  // the dropped line is gone for the JSON run
    const CliRun withJson = Kw9cli(dir, c.arguments + " --json");
    EXPECT_EQ(withJson.status, c.status);
    const json j = withJson.Json();
    EXPECT_EQ(j["exitCode"], c.status);
    EXPECT_EQ(j["ok"], c.status == 0);
    EXPECT_EQ(j["result"], c.result);
    EXPECT_EQ(withJson.err, text.err) << "standard error keeps its lines";
    if (c.status == 0) {
      EXPECT_EQ(j["command"], "read");
      EXPECT_EQ(j["port"], good.Device());
      EXPECT_EQ(j["window"]["storeInterval"], 10);
      EXPECT_EQ(j["window"]["statusText"], "Read Complete");
      EXPECT_EQ(j["window"].size(), 33u);
      EXPECT_THAT(text.out, HasSubstr("\nstoreInterval=10\n"));
    }
  }
  const CliRun version = Kw9cli(dir, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "kw9cli " KW9_VERSION "\n");
}

// Catches an erase after a download that is not safe on disk, and a dump
// hash that is not of the bytes the file shows.
TEST(Kw9cliEraseAfter, ErasesOnlyADownloadSafeOnDisk) {
  ScratchDir dir;
  const std::string transcript = dir / "transcript.bin";
  const std::string golden = std::string(KW9_GOLDEN_DIR) + "/track64.kml";
  struct Case {
    const char* what;
    std::vector<std::string> fault;
    std::string output;
    int status;
    bool erased;
    std::string note;
  };
  const Case cases[] = {
      {"safe", {}, dir / "track.kml", 0, true, ""},
      {"short block",
       {"--short-block-after", "J:500"},
       dir / "track.kml",
       6,
       false,
       "kw9cli: not erased: the download did not complete\n"},
      {"full disk",
       {},
       "/dev/full",
       5,
       false,
       "kw9cli: not erased: the download did not complete\n"},
      {"no folder",
       {},
       dir / "none/track.kml",
       5,
       false,
       "kw9cli: not erased: the download did not complete\n"},
      // Complete, but nothing on disk holds it: no erase, and no success.
      {"a device",
       {},
       "/dev/null",
       7,
       false,
       "kw9cli: not erased: /dev/null is no file that can be read back\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> options = {"--size", "64", "--erase-ms", "200"};
    options.insert(options.end(), {"--transcript", transcript});
    options.insert(options.end(), c.fault.begin(), c.fault.end());
    TrackersimProcess sim(options);
    ASSERT_TRUE(sim.Running());
    const std::string log = dir / "custody.log";
    std::filesystem::remove(log);
    const CliRun run = Kw9cli(dir, "download --erase-after --json --port " + sim.Device() +
                                       " --output " + c.output + " --log " + log);
    sim.Stop();
    EXPECT_EQ(run.status, c.status) << run.err;
    const json j = run.Json();
    EXPECT_EQ(j["download"]["erased"], c.erased);
    EXPECT_EQ(Slurp(transcript).find('Z') != std::string::npos, c.erased);
    if (!c.note.empty()) {
      EXPECT_THAT(run.err, HasSubstr(c.note));
    }
    const json line = json::parse(Slurp(log));
    EXPECT_EQ(line["exitCode"], c.status);
    EXPECT_EQ(line["erased"], c.erased);
    EXPECT_EQ(line["sha256"], j["download"]["sha256"]);
    if (!c.erased) continue;
    EXPECT_EQ(Slurp(c.output), Slurp(golden));
    EXPECT_EQ(j["download"]["fixes"], CoordinateLines(Slurp(golden)).size());
    EXPECT_EQ(j["messages"], (json{"Done Reading Flash", "Done Clearing Flash"}));
    // The hash of the dump's bytes, by the machine's own sha256sum.
    std::string bytes;
    const std::string kml = Slurp(golden);
    std::istringstream dump(kml.substr(kml.find("<!-- KLXDATA") + 13));
    for (std::string item; dump >> item && item != "-->";) {
      bytes += static_cast<char>(std::stoi(item, nullptr, 16));
    }
    ASSERT_EQ(bytes.size(), 8192u);
    Spill(dir / "dump.bin", bytes);
    const std::string sum = RunTool("sha256sum '" + dir / "dump.bin" + "'").output;
    EXPECT_EQ(j["download"]["sha256"], sum.substr(0, 64));
  }
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  std::vector<std::string> words = {KW9_KW9CLI};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Ctrl-C in the middle: a download keeps a valid file of the fixes that
// arrived, in place of the old one and with no temporary file beside it; an
// erase is left to the tracker. Both say so and exit 130.
TEST(Kw9cliInterrupt, SigintMidOperation) {
  ScratchDir dir;
  const std::string output = dir / "track.kml";
  struct Case {
    const char* what;
    std::vector<std::string> sim;
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {"download",
       {"--size", "64", "--pace"},
       {"download", "--json", "--output", output},
       "kw9: Error reading flash\nkw9cli: Interrupted\n"},
      {"erase",
       {"--size", "64", "--erase-ms", "20000"},
       {"erase", "--yes", "--json"},
       "kw9cli: the tracker goes on erasing by itself\nkw9cli: Interrupted\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Spill(output, "yesterday's track\n");
    TrackersimProcess sim(c.sim);
    ASSERT_TRUE(sim.Running());
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--port", sim.Device()});
    const pid_t pid = Spawn(args, dir / "out", dir / "err");
    ASSERT_GT(pid, 0);
    // Well into the operation: a paced 64-kbit download takes half a minute.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(Slurp(dir / "err"), c.err);
    const json j = json::parse(Slurp(dir / "out"));
    EXPECT_EQ(j["exitCode"], 130);
    EXPECT_EQ(j["result"], "interrupted");
    if (std::string(c.what) != "download") continue;
    const testing_support::ToolRun lint = RunTool("xmllint --noout '" + output + "' 2>&1");
    EXPECT_EQ(lint.status, 0) << lint.output;
    const std::vector<std::string> got = CoordinateLines(Slurp(output));
    const std::vector<std::string> all =
        CoordinateLines(Slurp(std::string(KW9_GOLDEN_DIR) + "/track64.kml"));
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), all.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin()));
    EXPECT_EQ(j["download"]["fixes"], got.size());
    EXPECT_EQ(j["download"]["complete"], false);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"err", "out", "track.kml"}));
  }
}

// Two kw9cli processes, one per port, logging to one file at once: every run
// leaves exactly one whole line.
TEST(Kw9cliCustodyLog, TwoProcessesAppendToOneLog) {
  ScratchDir dir;
  TrackersimProcess a({"--size", "64"});
  TrackersimProcess b({"--size", "64"});
  ASSERT_TRUE(a.Running() && b.Running());
  const std::string log = dir / "fleet.log";
  // A long-lived log: a writer that rewrites the file instead of appending
  // to it is then slow enough to be caught losing another's line.
  std::string earlier;
  constexpr int kEarlier = 200000;
  for (int i = 0; i < kEarlier; ++i) earlier += "{\"earlier\": " + std::to_string(i) + "}\n";
  Spill(log, earlier);
  constexpr int kRuns = 12;
  std::string script;
  for (const std::string& port : {a.Device(), b.Device()}) {
    script += "(for i in $(seq " + std::to_string(kRuns) + "); do " + KW9_KW9CLI + " read --port " +
              port + " --log '" + log + "' >/dev/null 2>&1; done) & ";
  }
  ASSERT_EQ(std::system((script + "wait").c_str()), 0);
  const std::string all = Slurp(log);
  // Compared as one fact: a diff of megabytes would take gtest minutes.
  EXPECT_TRUE(all.compare(0, earlier.size(), earlier) == 0) << "an earlier line was rewritten";
  const std::vector<std::string> lines = Lines(all.substr(std::min(earlier.size(), all.size())));
  ASSERT_EQ(lines.size(), 2u * kRuns);
  std::map<std::string, int> perPort;
  for (size_t i = 0; i < lines.size(); ++i) {
    const json line = json::parse(lines[i], nullptr, false);
    ASSERT_FALSE(line.is_discarded()) << "a torn or interleaved line: " << lines[i];
    ++perPort[line["port"].get<std::string>()];
    EXPECT_EQ(line["command"], "read");
    EXPECT_EQ(line["model"], "KLX-TX3");
    EXPECT_EQ(line["firmwareVersion"], 20);
    EXPECT_EQ(line["serialNumber"], 2417);
    EXPECT_EQ(line["battery"], 4.02);
    EXPECT_EQ(line["result"], "ok");
    EXPECT_EQ(line["exitCode"], 0);
    EXPECT_THAT(line["time"].get<std::string>(),
                testing::MatchesRegex("20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:"
                                      "[0-6][0-9]Z"));
  }
  EXPECT_EQ(perPort[a.Device()], kRuns);
  EXPECT_EQ(perPort[b.Device()], kRuns);
}

const std::string kGolden = std::string(KW9_GOLDEN_DIR) + "/track64.kml";

void SetModified(const std::string& path, const std::string& utc) {
  ASSERT_EQ(RunTool("touch -d '" + utc + "' '" + path + "'").status, 0);
}

// The GPX metadata holds the moment the file was made: two runs differ there.
std::string WithoutCreationTime(std::string text) {
  const size_t from = text.find("<metadata>");
  const size_t to = text.find("</metadata>");
  if (from != std::string::npos && to != std::string::npos) text.erase(from, to - from);
  return text;
}

// Catches an export that is not the stored file's (another decoder, dates
// anchored elsewhere), a default name other than the input's, and the
// inferred dates not told, or told although --date was given.
TEST(Kw9cliExport, WritesWhatTheExportOfAStoredFileWrites) {
  ScratchDir dir;
  const std::string input = dir / "walk.kml";
  Spill(input, Slurp(kGolden));
  SetModified(input, "2026-03-02T12:00:00Z");
  const struct {
    TrackFormat format;
    const char* date;
    const char* output;  // "" for the default
    const char* written;
  } rows[] = {
      {TrackFormat::kGpx, "", "", "walk.gpx"},
      {TrackFormat::kCsv, "2026-03-01", "", "walk.csv"},
      {TrackFormat::kGeoJson, "", "mine.json", "mine.json"},
      {TrackFormat::kKml22, "2026-03-01", "", "walk.kml22.kml"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(TrackFormatName(row.format));
    std::string arguments =
        "export --json --to " + std::string(TrackFormatName(row.format)) + " '" + input + "'";
    if (*row.date != '\0') arguments += std::string(" --date ") + row.date;
    if (*row.output != '\0') arguments += " --output '" + dir / row.output + "'";
    const CliRun run = Kw9cli(dir, arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    const ExportResult expected =
        ExportStoredKml({input, row.format, row.date, dir / "expected.out"});
    ASSERT_TRUE(expected.ok) << expected.message;
    EXPECT_EQ(WithoutCreationTime(Slurp(dir / row.written)),
              WithoutCreationTime(Slurp(dir / "expected.out")));
    EXPECT_EQ(run.err, expected.notice.empty() ? "" : "kw9cli: " + expected.notice);
    EXPECT_EQ(expected.notice.empty(), *row.date != '\0');
    const json j = json::parse(run.out);
    EXPECT_EQ(j["export"]["file"], dir / row.written);
    EXPECT_EQ(j["export"]["written"], true);
    EXPECT_EQ(j["export"]["points"], expected.points);
    EXPECT_EQ(j["export"]["segments"], expected.segments);
    std::filesystem::remove(dir / row.written);
    std::filesystem::remove(dir / "expected.out");
  }
}

// Each refusal says why, exits by its cause and leaves nothing behind.
TEST(Kw9cliExport, RefusalsWriteNothing) {
  const std::string golden = Slurp(kGolden);
  std::string edited = golden;
  edited.replace(edited.find("1.000723,6.121222"), 17, "1.000724,6.121222");
  const struct {
    const char* what;
    std::string input;  // the file's text; "" for no file
    std::string options;
    int status;
    const char* says;
  } rows[] = {
      {"not a KML file", "time,latitude,longitude\r\n", "", 2, "is not a KML file"},
      {"no dump", golden.substr(0, golden.find("<!-- KLXDATA")), "", 2, "holds no memory dump"},
      {"no such file", "", "", 2, "Cannot open"},
      {"an edited coordinate", edited, "", 7, "does not agree with its memory dump"},
      {"a day no calendar has", golden, "--date 2026-02-29", 2, "--date takes"},
      {"a folder that does not exist", golden, "--output none/walk.gpx", 5, "Cannot write"},
      {"the input as output", golden, "--output walk.kml", 5, "would replace"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    if (!row.input.empty()) Spill(dir / "walk.kml", row.input);
    const size_t files = dir.Names().size();
    const std::string arguments =
        "export --to gpx walk.kml " + row.options + " --log '" + dir / "custody.log" + "'";
    const CliRun run = Kw9cli(dir, arguments);
    EXPECT_EQ(run.status, row.status);
    EXPECT_THAT(run.err, HasSubstr(row.says));
    const json line = json::parse(Slurp(dir / "custody.log"));
    EXPECT_EQ(line["exitCode"], row.status);
    std::filesystem::remove(dir / "custody.log");
    const CliRun withJson = Kw9cli(dir, arguments + " --json");
    EXPECT_EQ(withJson.status, row.status);
    EXPECT_EQ(json::parse(withJson.out)["exitCode"], row.status);
    std::filesystem::remove(dir / "custody.log");
    EXPECT_EQ(dir.Names().size(), files) << "a file was left behind";
    if (!row.input.empty()) {
      EXPECT_EQ(Slurp(dir / "walk.kml"), row.input);
    }
  }
}

// The download's exports are the stored file's exports, dated from the
// moment the download ended. Catches signs lost to the KML writer (it clears
// them in the image before the exports could decode it), a download that
// stopped early exporting nothing or more than arrived, and an erase after
// an export that was not written.
TEST(Kw9cliDownload, ExportsBesideTheKml) {
  const struct {
    const char* what;
    std::vector<std::string> sim;
    int status;
  } rows[] = {
      {"complete", {"--size", "64"}, 0},
      {"line lost", {"--size", "64", "--drop-after", "J:500"}, 6},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    TrackersimProcess sim(row.sim);
    ASSERT_TRUE(sim.Running());
    const CliRun run =
        Kw9cli(dir, "download --json --port " + sim.Device() + " --output " + dir / "d.kml" +
                        " --csv " + dir / "d.csv" + " --gpx " + dir / "d.gpx");
    EXPECT_EQ(run.status, row.status) << run.err;
    const json j = json::parse(run.out);
    const int fixes = j["download"]["fixes"];
    EXPECT_GT(fixes, 0);
    EXPECT_EQ(fixes < 392, row.status == 6) << "the golden track has 392";
    ASSERT_EQ(j["download"]["exports"].size(), 2u);
    for (const json& e : j["download"]["exports"]) {
      EXPECT_EQ(e["written"], true);
      EXPECT_EQ(e["points"], fixes);
    }
    const std::string note = j["notes"][0];
    const std::string prefix = "Dates inferred from the moment the download ended (";
    ASSERT_EQ(note.rfind(prefix, 0), 0u) << note;
    SetModified(dir / "d.kml", note.substr(prefix.size(), 20));
    for (const char* format : {"csv", "gpx"}) {
      const CliRun stored = Kw9cli(
          dir, "export " + dir / "d.kml" + " --to " + format + " --output " + dir / "s." + format);
      EXPECT_EQ(stored.status, 0) << stored.err;
      EXPECT_EQ(WithoutCreationTime(Slurp(dir / "d." + format)),
                WithoutCreationTime(Slurp(dir / "s." + format)))
          << format;
    }
    EXPECT_EQ(Lines(Slurp(dir / "d.csv")).size(), static_cast<size_t>(fixes) + 1);
  }

  // The KML is safe, but the user asked for files that are not there: one
  // in a folder that does not exist, one that would be renamed over the KML
  // under another name. Neither is written, and nothing is erased.
  ScratchDir dir;
  const std::string transcript = dir / "transcript.bin";
  TrackersimProcess sim({"--size", "64", "--erase-ms", "200", "--transcript", transcript});
  ASSERT_TRUE(sim.Running());
  const CliRun run = Kw9cli(dir, "download --erase-after --port " + sim.Device() +
                                     " --output d.kml --geojson none/d.geojson --kml22 ./d.kml");
  sim.Stop();
  EXPECT_EQ(run.status, 5);
  EXPECT_THAT(run.err, HasSubstr("kw9cli: not written: ./d.kml is the downloaded file itself\n"));
  EXPECT_THAT(run.err, HasSubstr("kw9cli: not erased: an export was not written\n"));
  EXPECT_EQ(Slurp(transcript).find('Z'), std::string::npos) << "erased";
  EXPECT_TRUE(Slurp(dir / "d.kml") == Slurp(kGolden)) << "the KML was replaced";
}

// The shape scripts rely on, on whatever ports this machine has (the
// entries themselves are made up in the unit tests): five tab-separated
// fields a line, and an array of the same ports with --json.
TEST(Kw9cliPorts, LinesAndJsonArrayAgree) {
  ScratchDir dir;
  const CliRun text = Kw9cli(dir, "ports");
  EXPECT_EQ(text.status, 0);
  const CliRun withJson = Kw9cli(dir, "ports --json");
  EXPECT_EQ(withJson.status, 0);
  const json ports = json::parse(withJson.out);
  ASSERT_TRUE(ports.is_array());
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), ports.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::istringstream in(lines[i] + "\t");
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 5u) << lines[i];
    const json& p = ports[i];
    EXPECT_EQ(p["name"], fields[0]);
    EXPECT_EQ(p["devicePath"], fields[1]);
    EXPECT_EQ(p["description"].is_null() ? json("") : p["description"], fields[2]);
    EXPECT_EQ(p["vidPid"].is_null() ? json("") : p["vidPid"], fields[3]);
    EXPECT_EQ(p["busy"].get<bool>() ? "busy" : "", fields[4]);
  }
  const CliRun usage = Kw9cli(dir, "ports --json --port COM1");
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(json::parse(usage.out)["exitCode"], 2);
}

}  // namespace
