// A tracker that falls silent, at every command position of every operation:
// how long each takes to give up, on the fake port's virtual clock. Catches a
// read that waits minutes for a line that is dead, and an operation that goes
// on past its first failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/window_state.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"

namespace {

using testing_support::DialogHarness;
using testing_support::FakeSerial;

struct Operation {
  const char* name;
  int sizeKbit;
  std::vector<int> positions;  // the commands to fall silent at, counted from 1
  int64_t boundMs;             // the longest a silent tracker may hold it up
  std::function<void(ui::ScriptedWindow&)> press;
  const char* commandLine = "kw9";
};

std::vector<int> Range(int first, int last) {
  std::vector<int> all;
  for (int n = first; n <= last; ++n) all.push_back(n);
  return all;
}

void Click(ui::ScriptedWindow& w, int id) {
  ASSERT_TRUE(w.Click(id)) << id;
}

// Read Flash, Clear Flash, Flash Test and Go! open the port the combo box shows.
void UseCom1(ui::ScriptedWindow& w) {
  ASSERT_TRUE(w.Type(IDC_COM_PORT, "COM1"));
}

ui::ScriptedBackend* backend = nullptr;  // the running harness's

// Where the downloads go: a file of the system's temporary folder (there is
// no /dev/null under Windows).
std::string TrackPath() {
  return (std::filesystem::temp_directory_path() /
          ("kw9-dead-line-" + std::to_string(platform::ProcessId()) + ".kml"))
      .string();
}

void WaitForWorker(ui::ScriptedWindow&) {
  ASSERT_TRUE(backend->WaitUntil([] { return workerBusy == 0; }));
}

TEST(DeadLine, ASilentTrackerIsKnownInSeconds) {
  const auto readThen = [](int button, int field, const char* value) {
    return [=](ui::ScriptedWindow& w) {
      ASSERT_TRUE(w.Type(IDC_COM_PORT, "COM1"));
      Click(w, IDC_READ);
      if (field != 0) {
        ASSERT_TRUE(w.Type(field, value));
      }
      if (button != 0) Click(w, button);
    };
  };
  const auto worker = [](int button) {
    return [=](ui::ScriptedWindow& w) {
      UseCom1(w);
      Click(w, button);
      WaitForWorker(w);
    };
  };
  const auto direct = [](int button) {
    return [=](ui::ScriptedWindow& w) {
      UseCom1(w);
      Click(w, button);
    };
  };
  std::vector<int> download = Range(1, 6);
  download.push_back(3 + 900);  // block 900
  const Operation operations[] = {
      {"Read", 1024, Range(1, 60), 10000, readThen(0, 0, "")},
      {"Write", 1024, Range(1, 70), 10000, readThen(IDC_WRITE, IDC_STORE_INTERVAL, "20")},
      {"Update", 1024, Range(1, 80), 10000, readThen(IDC_UPDATE, IDC_RADIO_HP, "4"), "kw9 -tamsk"},
      {"Read Flash 64", 64, download, 10000, worker(IDC_READ_FLASH)},
      {"Read Flash 1024", 1024, download, 10000, worker(IDC_READ_FLASH)},
      // A read-back that never comes still tries to put the user's first
      // record back: two block reads and one acknowledgement wait.
      {"Flash Test 64", 64, Range(1, 60), 14000, direct(IDC_FLASH_TEST)},
      {"Flash Test 1024", 1024, Range(1, 60), 12000, direct(IDC_FLASH_TEST)},
      // Ten seconds for the ping and the size query; once the erase runs,
      // six silent reads of ten seconds each.
      {"Clear Flash", 1024, Range(1, 4), 60000, worker(IDC_CLEAR_FLASH)},
      {"Go!", 1024, Range(1, 3), 10000, direct(IDC_GO)},
  };
  std::string table;
  for (const Operation& op : operations) {
    int64_t longest = 0, longestBlock = 0;
    for (int position : op.positions) {
      SCOPED_TRACE(std::string(op.name) + ", silent from command " + std::to_string(position));
      FakeSerial serial;
      sim::Config config;
      config.sizeKbit = op.sizeKbit;
      config.faults.silent = {0, position};
      serial.AddPort("COM1", config);
      DialogHarness harness(op.commandLine);
      harness.backend().AnswerFileDialogs(
          [](const ui::FileDialogRequest&) { return std::optional<std::string>(TrackPath()); });
      harness.backend().SetScript(IDD_CLEAR_FLASH, [](ui::ScriptedWindow& w) { Click(w, IDOK); });
      backend = &harness.backend();
      harness.Run(op.press);
      // The tracker answers in no time on this clock; what passed beyond the
      // block commands' 1 ms pauses is waiting for a tracker that is gone.
      const auto& writes = serial.Port("COM1").writes;
      const int64_t pauses = std::count(writes.begin(), writes.end(), std::vector<uint8_t>{'J'});
      const int64_t elapsedMs = serial.now / 1000 - pauses;
      EXPECT_LE(elapsedMs, op.boundMs);
      longest = std::max(longest, elapsedMs);
      if (position > 6) longestBlock = std::max(longestBlock, elapsedMs);
    }
    char row[160];
    std::snprintf(row, sizeof row, "%-16s commands %d-%d: longest %.1f s, past command 6 %.1f s\n",
                  op.name, op.positions.front(), op.positions.back(), longest / 1000.0,
                  longestBlock / 1000.0);
    table += row;
  }
  // The figures, for whoever tunes the time-outs.
  std::printf("%s", table.c_str());
  std::filesystem::remove(TrackPath());
}

// A tracker that answers every byte slowly, but each within the interval,
// is never cut: the download completes.
TEST(DeadLine, ASlowButLivingLineIsNotCut) {
  FakeSerial serial;
  sim::Config config;
  config.sizeKbit = 64;
  config.faults.byteGapMs = 1500;  // past the 2 s for a block's first byte in all
  serial.AddPort("COM1", config);
  DialogHarness harness;
  backend = &harness.backend();
  harness.backend().AnswerFileDialogs(
      [](const ui::FileDialogRequest&) { return std::optional<std::string>(TrackPath()); });
  harness.Run([](ui::ScriptedWindow& w) {
    UseCom1(w);
    Click(w, IDC_READ_FLASH);
    WaitForWorker(w);
  });
  EXPECT_EQ(harness.Messages(), std::vector<std::string>{"Done Reading Flash"});
  std::filesystem::remove(TrackPath());
}

}  // namespace
