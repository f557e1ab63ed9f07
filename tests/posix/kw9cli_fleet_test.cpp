// kw9cli for fleets and scripts, end to end against trackersim over real
// pseudo-terminals: profiles, exit codes, JSON (read back with a JSON parser
// nobody here wrote), the erase after a download, interrupts, the custody
// log and tracks in other formats.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kw9_version.h"
#include "tests/support/external_tool.h"
#include "tests/support/kml_lines.h"
#include "tests/support/kw9cli_process.h"
#include "tests/support/track_readers.h"
#include "tests/support/trackersim_process.h"
#include "tracklog/track_export.h"

using nlohmann::json;
using testing::HasSubstr;
using testing_support::CliRun;
using testing_support::CoordinateLines;
using testing_support::Kw9cli;
using testing_support::Lines;
using testing_support::RunTool;
using testing_support::ScratchDir;
using testing_support::SettingsWrites;
using testing_support::Slurp;
using testing_support::Spill;
using testing_support::SplitStamp;
using testing_support::TrackersimProcess;
using testing_support::WithoutMetadata;

extern char** environ;

namespace {

const std::string kGolden = std::string(KW9_GOLDEN_DIR) + "/track64.kml";

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
  const CliRun save = Kw9cli(dir, "profile save --port " + a.Device() + " --output a.json");
  ASSERT_EQ(save.status, 0) << save.err;

  const std::string apply = "profile apply a.json --port " + b.Device();
  const CliRun dry = Kw9cli(dir, apply + " --dry-run");
  EXPECT_EQ(dry.status, 7);
  EXPECT_EQ(dry.out,
            "storeInterval: profile 42, tracker 10\n"
            "transmitSlot: profile 7, tracker 0\n"
            "shutdownVoltage: profile \"3.50\", tracker \"3.30\"\n"
            "wrapMemory: profile false, tracker true\n"
            "metersToFeet: profile true, tracker false\n"
            "enableNmea: profile true, tracker false\n"
            "radioHP: profile \"5\", tracker \"3\"\n"
            "radioDT: profile \"1234\", tracker \"FFFF\"\n"
            "radioRR: profile \"B\", tracker \"A\"\n");

  const CliRun applied = Kw9cli(dir, apply + " --json");
  ASSERT_EQ(applied.status, 0) << applied.err;
  // B still had its own value: the dry run wrote nothing.
  EXPECT_EQ(json::parse(applied.out)["profile"]["differences"][0],
            (json{{"field", "storeInterval"}, {"profile", 42}, {"tracker", 10}}));
  ASSERT_EQ(Kw9cli(dir, "profile save --port " + b.Device() + " --output b.json").status, 0);
  EXPECT_EQ(Settings(dir / "b.json"), Settings(dir / "a.json"));
  const json readB = json::parse(Kw9cli(dir, "read --json --port " + b.Device()).out);
  EXPECT_EQ(readB["window"]["serialNumber"], 2417) << "B keeps its own serial number";
  EXPECT_EQ(readB["messages"], json::array()) << "serial digits agree with the number";
  const CliRun again = Kw9cli(dir, apply + " --dry-run");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
}

// A tracker that acknowledges a write but keeps the old byte must not pass
// for one that took it; a value the window refuses must reach no tracker;
// a malformed profile must not even open the port.
TEST(Kw9cliProfiles, ApplyReportsWhatDidNotTake) {
  ScratchDir dir;
  const std::string transcript = dir / "transcript.bin";
  const struct {
    const char* what;
    std::string profile;
    std::vector<std::string> fault;
    int status;
    std::string errPart;
    int writes;  // settings-memory writes the tracker got
  } cases[] = {
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
       "kw9: storeInterval: Please enter an integer between 1 and 255.\n",
       0},
      // Only Update checks the length: it must come before Write.
      {"radio value too long",
       R"({"kw9-profile": 1, "settings": {"storeInterval": 42}, "radio": {"radioHP": ")" +
           std::string(64, '5') + "\"}}",
       {},
       1,
       "kw9: radioHP: Please enter no more than 63 characters.\n",
       0},
      {"malformed",
       "{\"kw9-profile\": 1,\n\"settings\": {\"storeIntervall\": 5}}",
       {},
       2,
       "p.json:2: unknown field \"storeIntervall\" in \"settings\"\n",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Spill(dir / "p.json", c.profile);
    std::vector<std::string> options = {"--size", "64", "--transcript", transcript};
    options.insert(options.end(), c.fault.begin(), c.fault.end());
    TrackersimProcess sim(options);
    ASSERT_TRUE(sim.Running());
    const CliRun run = Kw9cli(dir, "profile apply p.json --port " + sim.Device() + " --json");
    sim.Stop();
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, HasSubstr(c.errPart));
    EXPECT_EQ(json::parse(run.out)["exitCode"], c.status);
    EXPECT_EQ(SettingsWrites(Slurp(transcript)), c.writes);
    if (c.status == 2) {
      EXPECT_EQ(Slurp(transcript), "") << "the port was opened";
    }
  }
}

// Scripts branch on the exit status: each cause has its own, the same with
// and without --json, and the JSON holds what the text output says. Each run
// meets a tracker of its own, so that a lost line costs no time-out.
TEST(Kw9cliExitCodes, EachCauseHasItsCode) {
  ScratchDir dir;
  const std::vector<std::string> good = {"--size", "64"};
  const struct {
    int status;
    std::vector<std::string> sim;
    std::string arguments;  // the port follows
    std::string result;
  } cases[] = {
      {0, good, "read", "ok"},
      {1, good, "write --store-interval 0", "message"},
      {1, {"--ok-to-everything"}, "read", "no tracker"},
      {2, good, "read --store-interval 5", "usage"},
      {3, {}, "read", "port"},
      {4, {"--size", "64", "--drop-after", "?:1"}, "flash-test", "no answer"},
      {5, good, "download --output no/such/dir.kml", "file"},
      {6, {"--size", "64", "--drop-after", "J:100"}, "download --output short.kml", "incomplete"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const auto run = [&](const std::string& extra, std::string& port) {
      // The first run's file would be kept, and the second would say so.
      std::remove((dir / "short.kml").c_str());
      std::optional<TrackersimProcess> sim;
      port = "/dev/kw9-no-such-port";
      if (!c.sim.empty()) {
        sim.emplace(c.sim);
        port = sim->Device();
      }
      return Kw9cli(dir, c.arguments + " --port " + port + extra);
    };
    std::string textPort, port;
    const CliRun text = run("", textPort);
    EXPECT_EQ(text.status, c.status) << text.err;
    const CliRun withJson = run(" --json", port);
    EXPECT_EQ(withJson.status, c.status);
    // Each run has a tracker of its own, on a terminal of its own name.
    EXPECT_EQ(withJson.err, testing_support::Replaced(text.err, textPort, port))
        << "standard error keeps its lines";
    const json j = json::parse(withJson.out);
    EXPECT_EQ(j["exitCode"], c.status);
    EXPECT_EQ(j["ok"], c.status == 0);
    EXPECT_EQ(j["result"], c.result);
    if (c.status != 0) {
      EXPECT_FALSE(j["messages"].empty() && j["notes"].empty()) << "a failure says why";
      continue;
    }
    EXPECT_EQ(j["command"], "read");
    EXPECT_EQ(j["port"], port);
    EXPECT_EQ(j["window"]["statusText"], "Read Complete");
    EXPECT_EQ(j["window"].size(), 33u);
  }
  EXPECT_EQ(Kw9cli(dir, "--version").out, "kw9cli " KW9_VERSION "\n");
  // A report that standard output did not take is no success.
  const pid_t lost = testing_support::StartKw9cli({"ports", "--json"}, "/dev/full", dir / "err");
  int raw = 0;
  ASSERT_EQ(waitpid(lost, &raw, 0), lost);
  EXPECT_EQ(WEXITSTATUS(raw), 5);
  EXPECT_EQ(Slurp(dir / "err"), "kw9cli: cannot write the report to standard output\n");
}

// The SHA-256 of the bytes of a KML file's dump, by the machine's sha256sum.
std::string DumpSha256(const ScratchDir& dir, const std::string& kml) {
  std::istringstream dump(kml.substr(kml.find("<!-- KLXDATA") + 13));
  std::string bytes;
  for (std::string item; dump >> item && item != "-->";) {
    bytes += static_cast<char>(std::stoi(item, nullptr, 16));
  }
  Spill(dir / "dump.bin", bytes);
  return RunTool("sha256sum '" + dir / "dump.bin" + "'").output.substr(0, 64);
}

const char kNotErasedIncomplete[] = "kw9cli: not erased: the download did not complete\n";

struct EraseAfterRow {
  const char* what;
  std::vector<std::string> fault;
  std::string output;
  int status;
  std::string note;  // "" when it erased
  bool replaced;     // the download replaced the output
};

// Each row downloads a whole 64-kbit log: as tests of their own they run side
// by side.
class Kw9cliEraseAfter : public testing::TestWithParam<EraseAfterRow> {};

// Catches an erase after a download that is not safe on disk, and a dump
// hash that is not of the bytes the file shows. (A missing folder exits as
// the full disk does: Kw9cliExitCodes.)
TEST_P(Kw9cliEraseAfter, ErasesOnlyADownloadSafeOnDisk) {
  const EraseAfterRow& c = GetParam();
  ScratchDir dir;
  const std::string transcript = dir / "transcript.bin", log = dir / "custody.log";
  if (!c.replaced) Spill(dir / c.output, "an earlier download\n");
  std::vector<std::string> options = {"--size", "64",           "--erase-ms",
                                      "200",    "--transcript", transcript};
  options.insert(options.end(), c.fault.begin(), c.fault.end());
  TrackersimProcess sim(options);
  ASSERT_TRUE(sim.Running());
  const CliRun run = Kw9cli(dir, "download --erase-after --json --port " + sim.Device() +
                                     " --output " + c.output + " --log " + log);
  sim.Stop();
  const bool erased = c.note.empty();
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_THAT(run.err, HasSubstr(c.note));
  EXPECT_EQ(Slurp(transcript).find('Z') != std::string::npos, erased);
  const json j = json::parse(run.out);
  const json line = json::parse(Slurp(log));
  EXPECT_EQ(j["download"]["erased"], erased);
  EXPECT_EQ(line["erased"], erased);
  EXPECT_EQ(line["exitCode"], c.status);
  EXPECT_EQ(line["sha256"], j["download"]["sha256"]);
  if (!c.replaced) {
    EXPECT_TRUE(j["download"]["fixes"].is_null()) << j["download"];
    EXPECT_TRUE(j["download"]["sha256"].is_null()) << j["download"];
    EXPECT_EQ(Slurp(dir / c.output), "an earlier download\n");
  }
  if (!erased) return;
  EXPECT_EQ(SplitStamp(Slurp(dir / c.output)).body, Slurp(kGolden));
  EXPECT_EQ(j["download"]["fixes"], CoordinateLines(Slurp(kGolden)).size());
  EXPECT_EQ(j["messages"], (json{"Done Reading Flash", "Done Clearing Flash"}));
  EXPECT_EQ(j["download"]["sha256"], DumpSha256(dir, Slurp(kGolden)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Kw9cliEraseAfter,
    testing::Values(
        EraseAfterRow{"safe", {}, "track.kml", 0, "", true},
        // Cut short by a lost line rather than by short blocks, which cost 15
        // seconds of time-outs: "no block" keeps a tracker that could erase.
        EraseAfterRow{
            "line_lost", {"--drop-after", "J:500"}, "track.kml", 6, kNotErasedIncomplete, true},
        // The file already there stays, and is not this download's.
        EraseAfterRow{"no_block",
                      {"--short-block-after", "J:1"},
                      "track.kml",
                      6,
                      kNotErasedIncomplete,
                      false},
        EraseAfterRow{"full_disk", {}, "/dev/full", 5, kNotErasedIncomplete, true},
        // Complete, but nothing on disk holds it: no erase, and no success.
        EraseAfterRow{"a_device",
                      {},
                      "/dev/null",
                      7,
                      "kw9cli: not erased: /dev/null is no file that can be read back\n",
                      true}),
    [](const testing::TestParamInfo<EraseAfterRow>& info) { return std::string(info.param.what); });

// Ctrl-C, SIGTERM or a closed terminal in the middle: a download keeps a
// valid file of the fixes that arrived, beside the old one (which stays as
// it was) and with no temporary file left, says where in its JSON and its
// custody line, and calls that no flash error; an erase is left to the
// tracker. Both say so and exit 130.
TEST(Kw9cliInterrupt, SigintMidOperation) {
  ScratchDir dir;
  const std::string output = dir / "track.kml";
  const std::string partial = dir / "track.partial.kml";
  const std::string custody = dir / "custody.log";
  const std::vector<std::string> paced = {"--size", "64", "--pace"};
  const std::vector<std::string> download = {"download", "--json", "--output",
                                             output,     "--log",  custody};
  const struct {
    const char* what;
    int signal;
    std::vector<std::string> sim;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"download", SIGINT, paced, download, "kw9cli: Interrupted\n"},
      {"download", SIGTERM, paced, download, "kw9cli: Interrupted\n"},
      {"download", SIGHUP, paced, download, "kw9cli: Interrupted\n"},
      {"erase",
       SIGINT,
       {"--size", "64", "--erase-ms", "20000"},
       {"erase", "--yes", "--json"},
       "kw9cli: the tracker goes on erasing by itself\nkw9cli: Interrupted\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " " + std::to_string(c.signal));
    Spill(output, "yesterday's track\n");
    TrackersimProcess sim(c.sim);
    ASSERT_TRUE(sim.Running());
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--port", sim.Device()});
    const pid_t pid = testing_support::StartKw9cli(args, dir / "out", dir / "err");
    ASSERT_GT(pid, 0);
    // Well into the operation: a paced 64-kbit download takes half a minute.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    kill(pid, c.signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_EQ(testing_support::WithoutProgress(Slurp(dir / "err")), c.err);
    const json j = json::parse(Slurp(dir / "out"));
    EXPECT_EQ(j["exitCode"], 130);
    EXPECT_EQ(j["result"], "interrupted");
    EXPECT_EQ(j["messages"], json::array());
    if (std::string(c.what) != "download") continue;
    EXPECT_EQ(Slurp(output), "yesterday's track\n");
    const testing_support::ToolRun lint = RunTool("xmllint --noout '" + partial + "' 2>&1");
    EXPECT_EQ(lint.status, 0) << lint.output;
    const std::vector<std::string> got = CoordinateLines(Slurp(partial));
    const std::vector<std::string> all = CoordinateLines(Slurp(kGolden));
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), all.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin()));
    EXPECT_EQ(j["download"]["fixes"], got.size());
    EXPECT_EQ(j["download"]["complete"], false);
    EXPECT_EQ(j["download"]["partialFile"], partial);
    const json line = json::parse(Slurp(custody));
    EXPECT_EQ(line["partialFile"], partial);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"custody.log", "err", "out", "track.kml",
                                                     "track.partial.kml"}));
    std::remove(partial.c_str());
    std::remove(custody.c_str());
  }
}

// A reader that went away before the report came: exit 5 with a word on
// standard error, not a death by SIGPIPE after the work was done.
TEST(Kw9cliInterrupt, AClosedOutputPipeExitsFive) {
  ScratchDir dir;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  std::vector<std::string> words = {KW9_KW9CLI, "export",     kGolden,    "--to",       "csv",
                                    "--date",   "2026-03-01", "--output", dir / "t.csv"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::string err = dir / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5) << status;
  EXPECT_THAT(Slurp(err), HasSubstr("cannot write the report to standard output"));
}

// Two kw9cli processes, one per port, logging to one file at once: every run
// leaves exactly one whole line.
// `records` fixes from address 0, then `then`: a log memory image for
// trackersim --image, which pads the rest with 0xFF.
std::string LogImage(int records, const std::string& then) {
  std::string image;
  for (int i = 0; i < records; ++i) {
    const char fix[] = {
        97, static_cast<char>(i % 60), 41, static_cast<char>(0x97), 30, 27, 44, 56, 0, 2, 15, 8, 14,
        5,  static_cast<char>(i % 60)};
    image.append(fix, sizeof fix);
  }
  return image + then;
}

// Catches an erase after a download until the log's end that stopped at
// erased memory (records after it would be lost), no erase after one that
// read the log whole, and JSON or custody lines that do not say how far the
// download read and why it stopped there.
TEST(Kw9cliEraseAfter, UntilTheEndErasesOnlyALogReadWhole) {
  ScratchDir dir;
  const std::string transcript = dir / "transcript.bin", log = dir / "custody.log";
  const struct {
    const char* what;
    std::string image;
    bool untilEnd;
    int status;
    json stop;  // untilEnd in JSON
    int bytesRead;
  } rows[] = {
      {"an end marker", LogImage(12, "ZZZZ"), true, 0, "endMarker", 184},
      {"erased memory", LogImage(12, ""), true, 7, "erasedMemory", 440},
      {"a log that fills the memory", LogImage(546, "\x01\x02"), true, 0, "memoryEnd", 8192},
      {"a full download", LogImage(12, ""), false, 0, nullptr, 16384},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Spill(dir / "memory.bin", row.image);
    TrackersimProcess sim({"--size", "64", "--image", dir / "memory.bin", "--erase-ms", "200",
                           "--transcript", transcript});
    ASSERT_TRUE(sim.Running());
    std::filesystem::remove(log);
    const CliRun run =
        Kw9cli(dir, std::string("download --erase-after --json --port ") + sim.Device() +
                        " --output track.kml --log " + log + (row.untilEnd ? " --until-end" : ""));
    sim.Stop();
    const bool erased = row.status == 0;
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_EQ(Slurp(transcript).find('Z') != std::string::npos, erased);
    EXPECT_EQ(run.err.find("kw9cli: not erased: the reading stopped at erased memory") !=
                  std::string::npos,
              !erased)
        << run.err;
    const json j = json::parse(run.out);
    const json line = json::parse(Slurp(log));
    for (const json& d : {j["download"], line}) {
      EXPECT_EQ(d["erased"], erased);
      EXPECT_EQ(d["untilEnd"], row.stop);
      EXPECT_EQ(d["bytesRead"], row.bytesRead);
      EXPECT_EQ(d["verified"], true) << "a 64-kbit memory is read twice before it is erased";
    }
  }
}

TEST(Kw9cliCustodyLog, TwoProcessesAppendToOneLog) {
  ScratchDir dir;
  TrackersimProcess a({"--size", "64"});
  TrackersimProcess b({"--size", "64"});
  ASSERT_TRUE(a.Running() && b.Running());
  const std::string log = dir / "fleet.log";
  // A long-lived log: a writer that rewrites the file instead of appending
  // to it is then slow enough to be caught losing another's line.
  std::string earlier;
  for (int i = 0; i < 200000; ++i) earlier += "{\"earlier\": " + std::to_string(i) + "}\n";
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
  const json asRead = {{"kw9cli", KW9_VERSION}, {"command", "read"},    {"model", "KLX-TX3"},
                       {"firmwareVersion", 20}, {"serialNumber", 2417}, {"battery", 4.02},
                       {"result", "ok"},        {"exitCode", 0}};
  std::map<std::string, int> perPort;
  for (const std::string& text : lines) {
    json line = json::parse(text, nullptr, false);
    ASSERT_FALSE(line.is_discarded()) << "a torn or interleaved line: " << text;
    ++perPort[line["port"].get<std::string>()];
    EXPECT_THAT(line["time"].get<std::string>(),
                testing::MatchesRegex("20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:"
                                      "[0-6][0-9]Z"));
    line.erase("port");
    line.erase("time");
    EXPECT_EQ(line, asRead);
  }
  EXPECT_EQ(perPort[a.Device()], kRuns);
  EXPECT_EQ(perPort[b.Device()], kRuns);
}

void SetModified(const std::string& path, const std::string& utc) {
  ASSERT_EQ(RunTool("touch -d '" + utc + "' '" + path + "'").status, 0);
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
    std::string options;
    const char* written;
  } rows[] = {
      {TrackFormat::kGpx, "", "walk.gpx"},
      {TrackFormat::kCsv, " --date 2026-03-01", "walk.csv"},
      {TrackFormat::kGeoJson, " --output mine.json", "mine.json"},
      {TrackFormat::kKml22, " --date 2026-03-01", "walk.kml22.kml"},
      {TrackFormat::kSvg, "", "walk.svg"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(TrackFormatName(row.format));
    const CliRun run = Kw9cli(
        dir, "export --json " + input + " --to " + TrackFormatName(row.format) + row.options);
    EXPECT_EQ(run.status, 0) << run.err;
    const bool dated = row.options.find("--date") != std::string::npos;
    const ExportResult expected =
        ExportStoredKml({input, row.format, dated ? "2026-03-01" : "", dir / "expected.out"});
    ASSERT_TRUE(expected.ok) << expected.message;
    EXPECT_EQ(WithoutMetadata(Slurp(dir / row.written)),
              WithoutMetadata(Slurp(dir / "expected.out")));
    EXPECT_EQ(run.err, dated ? "" : "kw9cli: " + expected.notice);
    const json j = json::parse(run.out);
    EXPECT_THAT(j["export"]["file"].get<std::string>(), testing::EndsWith(row.written));
    EXPECT_EQ(j["export"]["points"], expected.points);
  }
}

// Each refusal says why, exits by its cause, logs it and leaves nothing
// behind. (That the code is the same without --json: Kw9cliExitCodes.)
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
    const CliRun run =
        Kw9cli(dir, "export --json --to gpx walk.kml --log custody.log " + row.options);
    EXPECT_EQ(run.status, row.status);
    EXPECT_THAT(run.err, HasSubstr(row.says));
    EXPECT_EQ(json::parse(run.out)["exitCode"], row.status);
    EXPECT_EQ(json::parse(Slurp(dir / "custody.log"))["exitCode"], row.status);
    std::filesystem::remove(dir / "custody.log");
    EXPECT_EQ(dir.Names().size(), row.input.empty() ? 0u : 1u) << "a file was left behind";
    EXPECT_EQ(Slurp(dir / "walk.kml"), row.input);
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
    const CliRun run = Kw9cli(
        dir, "download --json --port " + sim.Device() + " --output d.kml --csv d.csv --gpx d.gpx");
    EXPECT_EQ(run.status, row.status) << run.err;
    const json j = json::parse(run.out);
    const int fixes = j["download"]["fixes"];
    EXPECT_GT(fixes, 0);
    EXPECT_EQ(fixes < 392, row.status == 6) << "the golden track has 392";
    ASSERT_EQ(j["download"]["exports"].size(), 2u);
    for (const json& e : j["download"]["exports"]) EXPECT_EQ(e["points"], fixes);
    const std::string note = j["notes"][0];
    const std::string prefix = "Dates inferred from the moment the download ended (";
    ASSERT_EQ(note.rfind(prefix, 0), 0u) << note;
    SetModified(dir / "d.kml", note.substr(prefix.size(), 20));
    for (const std::string format : {"csv", "gpx"}) {
      const CliRun stored = Kw9cli(dir, "export d.kml --to " + format + " --output s." + format);
      EXPECT_EQ(stored.status, 0) << stored.err;
      EXPECT_EQ(WithoutMetadata(Slurp(dir / ("d." + format))),
                WithoutMetadata(Slurp(dir / ("s." + format))))
          << format;
    }
  }

  // The KML is safe, but the user asked for a file that is not there: one
  // that would be renamed over the KML under another name. It is not
  // written, and nothing is erased. (A folder that does not exist is refused
  // before the download: FilesOnly.TheTrackerIsNoOutput.)
  ScratchDir dir;
  const std::string transcript = dir / "transcript.bin";
  TrackersimProcess sim({"--size", "64", "--erase-ms", "200", "--transcript", transcript});
  ASSERT_TRUE(sim.Running());
  const CliRun run = Kw9cli(
      dir, "download --erase-after --port " + sim.Device() + " --output d.kml --kml22 ./d.kml");
  sim.Stop();
  EXPECT_EQ(run.status, 5);
  EXPECT_THAT(run.err, HasSubstr("kw9cli: not written: ./d.kml is the downloaded file itself\n"));
  EXPECT_THAT(run.err, HasSubstr("kw9cli: not erased: an export was not written\n"));
  EXPECT_EQ(Slurp(transcript).find('Z'), std::string::npos) << "erased";
  EXPECT_TRUE(SplitStamp(Slurp(dir / "d.kml")).body == Slurp(kGolden)) << "the KML was replaced";
}

}  // namespace
