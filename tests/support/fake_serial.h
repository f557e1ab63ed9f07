// An in-process serial system for unit tests: each port name is a simulated
// tracker on a virtual clock, so a 10-second silence costs no real time. Every
// write call is recorded with its bytes, since write boundaries matter to the
// tracker.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial/serial.h"
#include "platform/ui/message_box.h"
#include "sim/tracker.h"

namespace testing_support {

// What a reply read that returned nothing shows, after which the link closes.
inline constexpr char kReadError[] = "Serial Port Error: Read returned 0 chars. Closing com port";

struct FakeDevice {
  explicit FakeDevice(sim::Config config) : tracker(std::move(config)) {}
  sim::Tracker tracker;
  bool open = false;
  int opens = 0;
  std::vector<std::vector<uint8_t>> writes;     // one entry per write call
  platform::LineSettings state{1200, 7, 2, 2};  // deliberately not 9600 8N1
  platform::Timeouts timeouts;
  bool dtr = false;
  // Knobs for the link's failure paths.
  bool failSetState = false;
  bool failGetTimeouts = false;
  bool failSetTimeouts = false;
  bool failWrites = false;
  // Bytes that arrive ahead of anything the tracker sends, as if the line
  // carried them already: for replies no well-behaved tracker gives.
  std::vector<uint8_t> injected;
  void Inject(const std::string& bytes) {
    injected.insert(injected.end(), bytes.begin(), bytes.end());
  }

  // Called after each recorded write, once the tracker has taken its bytes:
  // lets a test act at a given request (change the log memory, say).
  std::function<void(FakeDevice&, const std::vector<uint8_t>& bytes)> onWrite;

  // All bytes written, in order.
  std::vector<uint8_t> Written() const;
};

class FakeSerial final : public platform::SerialSystem {
 public:
  FakeSerial();            // installs itself as the serial system
  ~FakeSerial() override;  // restores the native one

  FakeDevice& AddPort(const std::string& name, sim::Config config = {});
  FakeDevice& Port(const std::string& name) { return *devices_.at(name); }

  std::unique_ptr<platform::SerialPort> Open(const std::string& name,
                                             platform::OpenError& error) override;
  bool PortExists(const std::string& name) override;
  std::vector<platform::PortInfo> ListPorts() override {
    return listed ? *listed : SerialSystem::ListPorts();
  }
  int64_t NowMicros() override { return now; }
  void Pause(unsigned ms) override { now += static_cast<int64_t>(ms) * 1000; }

  int64_t now = 0;  // the virtual clock, microseconds
  // The port list, when it is not the ports added (COM names only).
  std::optional<std::vector<platform::PortInfo>> listed;

 private:
  std::map<std::string, std::unique_ptr<FakeDevice>> devices_;
};

// Puts the link's process-wide state back to program start, closing the port.
void ResetLinkState();

// Records every message box in order, answering each at once.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  std::vector<std::string> texts;
};

}  // namespace testing_support
