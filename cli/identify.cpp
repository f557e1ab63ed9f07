#include "cli/identify.h"

#include <cstdio>

#include "cli/utc_time.h"
#include "config/settings.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "link/messages.h"

namespace cli {

namespace {

bool LinkLost() {
  return DeviceLink.portOpen == 0;
}

}  // namespace

Identification IdentifyTracker(const std::string& port) {
  Identification result;
  msg::Hush hush;
  // The download decides by the model text whether to ask the memory size:
  // what it sends must not depend on this look.
  const std::string modelBefore = modelString;
  const auto ask = [&]() -> std::optional<TrackerIdentity> {
    if (!OpenPort(port)) return std::nullopt;
    TrackerIdentity tracker;
    tracker.model = GetModel();
    if (tracker.model == "err" || tracker.model == "err0" || LinkLost()) return std::nullopt;
    bool versionIsNumber = false;
    const int version = GetVersion(&versionIsNumber);
    if (version == 999 || LinkLost()) return std::nullopt;
    // A device that is no tracker answers with other text.
    if (!versionIsNumber) {
      hush.Hold("the version reply holds no number: no tracker");
      return std::nullopt;
    }
    tracker.firmwareVersion = version;
    const uint8_t batteryHigh = ReadRegisterByte(kRegisterBatteryHigh);
    const uint8_t batteryLow = LinkLost() ? 0 : ReadRegisterByte(kRegisterBatteryLow);
    const uint8_t serialHigh = LinkLost() ? 0 : ReadNvByte(kNvSerialHigh);
    const uint8_t serialLow = LinkLost() ? 0 : ReadNvByte(kNvSerialLow);
    if (LinkLost()) return std::nullopt;
    char volts[32];
    std::snprintf(volts, sizeof volts, "%4.2f",
                  voltsFromCount(static_cast<uint16_t>(batteryHigh * 256 + batteryLow)));
    tracker.battery = volts;
    tracker.serialNumber = serialHigh * 256u + serialLow;
    return tracker;
  };
  result.tracker = ask();
  ClosePort();
  modelString = modelBefore;
  if (!result.tracker) result.why = hush.First().empty() ? "no answer" : hush.First();
  return result;
}

std::string DefaultDownloadName(std::optional<uint32_t> serialNumber, int64_t unixSeconds) {
  // 2026-12-09T08:01:02Z as 20261209T080102Z: no character a file system
  // refuses, and the names sort by time.
  std::string stamp = UtcText(unixSeconds);
  std::erase_if(stamp, [](char c) { return c == '-' || c == ':'; });
  return "track-" + (serialNumber ? std::to_string(*serialNumber) + "-" : "") + stamp + ".kml";
}

}  // namespace cli
