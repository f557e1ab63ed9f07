#include "tests/support/fake_serial.h"

#include <algorithm>
#include <cstdlib>

#include "link/commands.h"
#include "link/device_link.h"
#include "tracklog/flash_image.h"

namespace testing_support {

std::vector<uint8_t> FakeDevice::Written() const {
  std::vector<uint8_t> all;
  for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
  return all;
}

namespace {

class FakePort final : public platform::SerialPort {
 public:
  FakePort(FakeDevice& device, int64_t& now) : device_(device), now_(now) { device_.open = true; }
  ~FakePort() override { device_.open = false; }

  bool GetState(platform::LineSettings& settings) override {
    settings = device_.state;
    return true;
  }
  bool SetState(const platform::LineSettings& settings) override {
    if (device_.failSetState) return false;
    device_.state = settings;
    return true;
  }
  bool RaiseDtr() override {
    device_.dtr = true;
    return true;
  }
  bool GetTimeouts(platform::Timeouts& timeouts) override {
    if (device_.failGetTimeouts) return false;
    timeouts = device_.timeouts;
    return true;
  }
  bool SetTimeouts(const platform::Timeouts& timeouts) override {
    if (device_.failSetTimeouts) return false;
    device_.timeouts = timeouts;
    return true;
  }

  // The Win32 rules on the virtual clock: wait for the tracker's bytes until
  // n arrived, the gap after a byte exceeds the interval, or the total ran out.
  bool Read(uint8_t* data, size_t n, size_t& got) override {
    got = 0;
    sim::Tracker& tracker = device_.tracker;
    if (tracker.LineDropped()) return false;
    const auto& t = device_.timeouts;
    const int64_t total = (static_cast<int64_t>(t.readTotalMultiplier) * static_cast<int64_t>(n) +
                           t.readTotalConstant) *
                          1000;
    // With no time-outs at all a real port would wait forever; a test must not.
    const int64_t totalDeadline = now_ + (total > 0 ? total : 3600LL * 1000000);
    int64_t lastByte = 0;
    while (got < n && !device_.injected.empty()) {
      data[got++] = device_.injected.front();
      device_.injected.erase(device_.injected.begin());
      lastByte = now_;
    }
    if (t.readInterval == platform::Timeouts::kReturnAtOnce && total == 0) {
      // What is on the line by now, and no waiting for more.
      tracker.Advance(now_);
      got += tracker.Transmit(now_, data + got, n - got);
      return !tracker.LineDropped();
    }
    while (got < n) {
      int64_t deadline = totalDeadline;
      if (got > 0 && t.readInterval != 0) {
        deadline = std::min(deadline, lastByte + static_cast<int64_t>(t.readInterval) * 1000);
      }
      tracker.Advance(now_);
      const int64_t next = tracker.NextOutputTime();
      if (next > deadline) {
        now_ = std::max(now_, deadline);
        tracker.Advance(now_);
        return !tracker.LineDropped();
      }
      now_ = std::max(now_, next);
      got += tracker.Transmit(now_, data + got, n - got);
      lastByte = now_;
      if (tracker.LineDropped()) return false;
    }
    return true;
  }

  bool Write(const uint8_t* data, size_t n, size_t& written) override {
    written = 0;
    if (device_.failWrites || device_.tracker.LineDropped()) return false;
    device_.writes.emplace_back(data, data + n);
    device_.tracker.Receive(data, n, now_);
    written = n;
    if (device_.onWrite) device_.onWrite(device_, std::vector<uint8_t>(data, data + n));
    return true;
  }

 private:
  FakeDevice& device_;
  int64_t& now_;
};

}  // namespace

FakeSerial::FakeSerial() {
  platform::UseSerial(this);
}

FakeSerial::~FakeSerial() {
  platform::UseSerial(nullptr);
}

FakeDevice& FakeSerial::AddPort(const std::string& name, sim::Config config) {
  auto& slot = devices_[name];
  // Replacing a device the link holds open would leave the port dangling.
  if (slot && slot->open) std::abort();
  slot = std::make_unique<FakeDevice>(std::move(config));
  return *slot;
}

std::unique_ptr<platform::SerialPort> FakeSerial::Open(const std::string& name,
                                                       platform::OpenError& error) {
  error = {};  // says no more than "Error opening com port" did
  auto it = devices_.find(name);
  if (it == devices_.end() || it->second->open) return nullptr;
  ++it->second->opens;
  return std::make_unique<FakePort>(*it->second, now);
}

bool FakeSerial::PortExists(const std::string& name) {
  return devices_.count(name) != 0;
}

void ResetLinkState() {
  ResetLink();
  LogMemoryGeometry = {};
}

MessageRecorder::MessageRecorder() {
  platform::SetMessageBoxHandler([this](const std::string& text) { texts.push_back(text); });
}

MessageRecorder::~MessageRecorder() {
  platform::SetMessageBoxHandler({});
}

}  // namespace testing_support
