// What the dialog framework asks of Windows itself: worker priority, the
// command line and the program's name, under Wine (and on Windows as is).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/os/os.h"
#include "platform/ui/framework.h"

namespace {

int RecordPriority(void* out) {
  *static_cast<int*>(out) = GetThreadPriority(GetCurrentThread());
  return 1;
}

// The download and erase workers must not be starved by the window: they
// start at THREAD_PRIORITY_HIGHEST, set by the thread itself.
TEST(Win32UiOs, WorkerStartsAtTheHighestPriority) {
  int seen = THREAD_PRIORITY_ERROR_RETURN;
  {
    ui::WorkerThread worker = ui::BeginThread(RecordPriority, &seen, ui::ThreadPriority::kHighest);
  }  // joined here
  EXPECT_EQ(seen, THREAD_PRIORITY_HIGHEST);
  { ui::WorkerThread worker = ui::BeginThread(RecordPriority, &seen, ui::ThreadPriority::kNormal); }
  EXPECT_EQ(seen, THREAD_PRIORITY_NORMAL);
}

// Message boxes carry the program's name: the file's base name, without
// directory or ".exe".
TEST(Win32UiOs, ExecutableBaseNameHasNoDirectoryOrExtension) {
  EXPECT_EQ(platform::ExecutableBaseName(), "kw9_wine_tests");
}

// The calibration switch is read from the raw command line, quotes and all.
TEST(Win32UiOs, CommandLineIsTheRawOneUntilReplaced) {
  EXPECT_EQ(platform::CommandLine(), std::string(GetCommandLineA()));
  platform::SetCommandLine("kw9 -tamsk");
  EXPECT_EQ(platform::CommandLine(), "kw9 -tamsk");
}

}  // namespace
