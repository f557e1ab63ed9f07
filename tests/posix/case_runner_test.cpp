// The end-to-end cases of tests/cases, one folder each: kw9cli run with the
// folder's arguments in a folder of its own, against trackersim started with
// the folder's options on a pseudo-terminal, and what the run left compared
// with what the folder expects. tests/CMakeLists.txt registers each folder as
// a test of its own (KW9_CASE names it); without KW9_CASE every case runs.
//   args              kw9cli's arguments, one line as a shell reads it;
//                     {port} stands for trackersim's device
//   sim               trackersim's options, one line; without it no tracker;
//                     {folder} stands for the case's folder (--image)
//   given/            files put into the working folder first
//   status            the exit status
//   stderr            standard error, exactly ({port} for the device)
//   stdout-lines      lines that standard output holds, each a whole line
//   expect/           the working folder afterwards holds exactly these
//                     files, byte for byte; without it, nothing
//   stamps            one line per KML file a download wrote: its name, a
//                     blank and its last line, the download's stamp, with
//                     {time} for the moment; expect/ then holds the file's
//                     bytes before that line
//   transcript        the bytes the tracker received, exactly
//   transcript-start  the bytes the tracker received first
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/kml_lines.h"
#include "tests/support/kw9cli_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/trackersim_process.h"

namespace fs = std::filesystem;
using testing_support::CliRun;
using testing_support::Lines;
using testing_support::Replaced;
using testing_support::ScratchDir;
using testing_support::Slurp;
using testing_support::SplitStamp;
using testing_support::TrackersimProcess;

namespace {

// The file's first line without its line end.
std::string FirstLine(const fs::path& file) {
  const std::vector<std::string> lines = Lines(Slurp(file.string()));
  return lines.empty() ? "" : lines[0];
}

// A mismatch shown by where it starts, not as two whole files.
void ExpectSameBytes(const std::string& actual, const std::string& expected,
                     const std::string& what) {
  if (actual == expected) return;
  const size_t at = static_cast<size_t>(
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
      actual.begin());
  ADD_FAILURE() << what << " differs from byte " << at << " (sizes " << actual.size() << " and "
                << expected.size() << "): \"" << actual.substr(at, 40) << "\" where \""
                << expected.substr(at, 40) << "\" was expected";
}

void RunCase(const fs::path& folder) {
  ScratchDir work, aside;
  if (fs::exists(folder / "given")) fs::copy(folder / "given", work.Path());
  const std::string transcript = aside / "transcript";
  std::optional<TrackersimProcess> sim;
  std::string port;
  if (fs::exists(folder / "sim")) {
    std::vector<std::string> options;
    std::istringstream words(Replaced(FirstLine(folder / "sim"), "{folder}", folder.string()));
    for (std::string word; words >> word;) options.push_back(word);
    options.insert(options.end(), {"--transcript", transcript});
    sim.emplace(options);
    ASSERT_TRUE(sim->Running());
    port = sim->Device();
  }
  const CliRun run =
      testing_support::Kw9cli(work, Replaced(FirstLine(folder / "args"), "{port}", port));
  if (sim) sim->Stop();

  EXPECT_EQ(std::to_string(run.status), FirstLine(folder / "status")) << run.err;
  if (fs::exists(folder / "stderr")) {
    EXPECT_EQ(Replaced(run.err, port, "{port}"), Slurp((folder / "stderr").string()));
  }
  const std::string out = "\n" + Replaced(run.out, port, "{port}");
  if (fs::exists(folder / "stdout-lines")) {
    for (const std::string& line : Lines(Slurp((folder / "stdout-lines").string()))) {
      EXPECT_NE(out.find("\n" + line + "\n"), std::string::npos) << "no line " << line;
    }
  }
  std::map<std::string, std::string> stamps;  // by file name
  if (fs::exists(folder / "stamps")) {
    for (const std::string& line : Lines(Slurp((folder / "stamps").string()))) {
      const size_t blank = line.find(' ');
      stamps[line.substr(0, blank)] =
          Replaced(line.substr(blank + 1), "{time}", "20[0-9-]{8}T[0-9:]{8}Z");
    }
  }
  std::vector<std::string> expected;
  if (fs::exists(folder / "expect")) {
    for (const auto& file : fs::directory_iterator(folder / "expect")) {
      const std::string name = file.path().filename().string();
      expected.push_back(name);
      const std::string want = Slurp(file.path().string());
      if (stamps.count(name) == 0) {
        ExpectSameBytes(Slurp(work / name), want, name);
        continue;
      }
      const testing_support::StampedKml got = SplitStamp(Slurp(work / name));
      ExpectSameBytes(got.body, want, name + " before its stamp");
      EXPECT_THAT(got.stamp, testing::MatchesRegex(stamps[name])) << name;
    }
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(work.Names(), expected) << "the files the run left";
  if (fs::exists(folder / "transcript")) {
    ExpectSameBytes(Slurp(transcript), Slurp((folder / "transcript").string()), "the transcript");
  }
  if (fs::exists(folder / "transcript-start")) {
    const std::string start = Slurp((folder / "transcript-start").string());
    ExpectSameBytes(Slurp(transcript).substr(0, start.size()), start, "the transcript's start");
  }
}

TEST(Kw9cliCase, Run) {
  const char* one = std::getenv("KW9_CASE");
  std::vector<fs::path> folders;
  if (one != nullptr && *one != '\0') {
    folders.push_back(fs::path(KW9_CASES_DIR) / one);
  } else {
    for (const auto& entry : fs::directory_iterator(KW9_CASES_DIR)) {
      if (entry.is_directory()) folders.push_back(entry.path());
    }
    std::sort(folders.begin(), folders.end());
  }
  ASSERT_FALSE(folders.empty());
  for (const fs::path& folder : folders) {
    SCOPED_TRACE(folder.filename().string());
    ASSERT_TRUE(fs::exists(folder / "args")) << folder << " is no case";
    RunCase(folder);
  }
}

}  // namespace
