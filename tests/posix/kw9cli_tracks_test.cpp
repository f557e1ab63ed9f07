// kw9cli's tracks in other formats and its port list, end to end: export of
// a stored KML file, a download's exports over trackersim on a real
// pseudo-terminal, and `ports` as a script reads it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/external_tool.h"
#include "tests/support/trackersim_process.h"
#include "tracklog/track_export.h"

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

const std::string kGolden = std::string(KW9_GOLDEN_DIR) + "/track64.kml";

class ScratchDir {
 public:
  ScratchDir() {
    static int serial = 0;
    path_ = testing::TempDir() + "kw9cli_tracks." + std::to_string(getpid()) + "." +
            std::to_string(++serial);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  size_t Count() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path_), {}));
  }

 private:
  std::string path_;
};

struct CliRun {
  int status = -1;
  std::string out, err;
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
    const size_t files = dir.Count();
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
    EXPECT_EQ(dir.Count(), files) << "a file was left behind";
    if (!row.input.empty()) {
      EXPECT_EQ(Slurp(dir / "walk.kml"), row.input);
    }
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
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
