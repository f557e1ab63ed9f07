#include "cli/identify.h"

#include <chrono>
#include <cstdio>

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
  using namespace std::chrono;
  const sys_seconds moment{seconds{unixSeconds}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss time{moment - day};
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02u%02uT%02d%02d%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return serialNumber ? "track-" + std::to_string(*serialNumber) + "-" + stamp + ".kml"
                      : std::string("track-") + stamp + ".kml";
}

}  // namespace cli
