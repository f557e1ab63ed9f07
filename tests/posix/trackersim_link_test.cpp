// The tool's link against the trackersim program over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <vector>

#include "link/commands.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "sim/tracker.h"
#include "tests/support/fake_serial.h"
#include "tests/support/trackersim_process.h"
#include "tracklog/flash_image.h"

using testing_support::MessageRecorder;
using testing_support::TrackersimProcess;

namespace {

class TrackersimLink : public testing::Test {
 protected:
  void SetUp() override { testing_support::ResetLinkState(); }
  void TearDown() override { testing_support::ResetLinkState(); }
  MessageRecorder messages;
};

// The blocks of the largest memory at either end and on either side of
// address bit 16 (sent as 0x04), in the order a download reads them, must
// come back exactly as the tracker holds them. (kw9cli downloads all of them
// over a pseudo-terminal in the case download_1024_garbled_block.)
TEST_F(TrackersimLink, ServesThe1024KbitBlocksAcrossBit16) {
  TrackersimProcess sim({"--size", "1024"});
  ASSERT_TRUE(sim.Running());
  ASSERT_EQ(OpenPort(sim.Device()), 1);
  EXPECT_EQ(Ping(), 1);
  EXPECT_EQ(GetMemorySize(), '2');
  LogMemoryGeometry.sizeCode = 1024;
  const std::vector<uint8_t> expected = sim::RealisticTrack(1024);
  int32_t block[16];
  int complete = 0;
  int mismatched = 0;
  for (const int from : {0, 65536 - 64 * 16, 131072 - 64 * 16}) {
    for (int address = from; address < from + 128 * 16 && address < 131072; address += 16) {
      complete += ReadFlashBlock(address, block) ? 1 : 0;
      for (int i = 0; i < 16; ++i) mismatched += block[i] != expected[address + i] ? 1 : 0;
    }
  }
  EXPECT_EQ(complete, 128 + 128 + 64);
  EXPECT_EQ(mismatched, 0);
  EXPECT_TRUE(messages.texts.empty());
}

TEST_F(TrackersimLink, ShortFormAndTheIdentityCommands) {
  TrackersimProcess sim({"--size", "128", "--model", "NXVLDQ", "--version", "31"});
  ASSERT_TRUE(sim.Running());
  ASSERT_EQ(OpenPort(sim.Device()), 1);
  EXPECT_EQ(GetModel(), "NXVLDQ");
  EXPECT_EQ(GetVersion(), 31);
  EXPECT_EQ(GetMemorySize(), '1');
  LogMemoryGeometry.sizeCode = 128;
  const std::vector<uint8_t> expected = sim::RealisticTrack(128);
  int32_t block[16];
  std::fill(std::begin(block), std::end(block), -1);
  ASSERT_TRUE(ReadFlashBlock(16376, block));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(block[i], expected[16376 + i]);
  EXPECT_EQ(block[8], -1);
}

// At the line's pace the noise behind a short block comes a byte-time after
// its last byte, mostly too late to be found with the reply: then it must be
// found as the next block is asked for (after the protocol's pause, which is
// what gives it the time), or every later block is read three bytes out of
// step. Once the line is quiet, both blocks come whole and right.
TEST_F(TrackersimLink, NoiseBehindAPacedShortBlockIsNoticed) {
  TrackersimProcess sim({"--size", "64", "--pace", "--noise-after", "J:3"});
  ASSERT_TRUE(sim.Running());
  ASSERT_EQ(OpenPort(sim.Device()), 1);
  LogMemoryGeometry.sizeCode = 64;
  int32_t block[16];
  bool busy[4] = {};
  bool whole[4] = {};
  for (int b = 0; b < 4; ++b) whole[b] = ReadFlashBlock(b * 8, block, nullptr, &busy[b]);
  EXPECT_TRUE(whole[0] && whole[1] && !busy[1] && !busy[2]);
  EXPECT_TRUE(!whole[2] || busy[3]) << "the noise behind block 2 went unnoticed";
  ASSERT_TRUE(DiscardUntilQuiet(100, 2000));
  const std::vector<uint8_t> expected = sim::RealisticTrack(64);
  for (const int address : {16, 24}) {
    bool again = true;
    EXPECT_TRUE(ReadFlashBlock(address, block, nullptr, &again));
    EXPECT_FALSE(again);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(block[i], expected[address + i]) << address + i;
  }
}

// The line dropping mid-download is seen at once, not after a time-out.
TEST_F(TrackersimLink, DroppedLineEndsTheReadAtOnce) {
  TrackersimProcess sim({"--size", "1024", "--drop-after", "J:3"});
  ASSERT_TRUE(sim.Running());
  ASSERT_EQ(OpenPort(sim.Device()), 1);
  LogMemoryGeometry.sizeCode = 1024;
  int32_t block[16];
  EXPECT_TRUE(ReadFlashBlock(0, block));
  EXPECT_TRUE(ReadFlashBlock(16, block));
  const int64_t start = platform::MonotonicMicros();
  EXPECT_FALSE(ReadFlashBlock(32, block));
  EXPECT_LT(platform::MonotonicMicros() - start, 2'000'000);
  uint8_t line[kReplyBufferSize];
  EXPECT_EQ(ReadLine(line), 0);
  EXPECT_EQ(DeviceLink.portOpen, 0);
}

}  // namespace
