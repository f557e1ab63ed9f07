// Read, Write and Update: the main window's exchanges with the tracker's
// settings. Each stops at the first reply that does not come: the link has
// then closed and the user has been told once, and going on would only show
// values that were never read or send commands into a closed port.
#include <cstdio>

#include "app/control_ids.h"
#include "app/tracker_dlg.h"
#include "app/window_memory.h"
#include "config/settings.h"
#include "link/commands.h"
#include "link/device_link.h"

namespace {

bool LinkLost() {
  return DeviceLink.portOpen == 0;
}

struct RadioEdit {
  RadioParameter parameter;
  std::string CTrackerDlg::*member;
  int control;
};

// Update's order.
constexpr RadioEdit kRadioEdits[] = {
    {kID, &CTrackerDlg::radioID, IDC_RADIO_ID}, {kHP, &CTrackerDlg::radioHP, IDC_RADIO_HP},
    {kMK, &CTrackerDlg::radioMK, IDC_RADIO_MK}, {kDT, &CTrackerDlg::radioDT, IDC_RADIO_DT},
    {kRO, &CTrackerDlg::radioRO, IDC_RADIO_RO}, {kRN, &CTrackerDlg::radioRN, IDC_RADIO_RN},
    {kRR, &CTrackerDlg::radioRR, IDC_RADIO_RR},
};

// The edit member Read fills from each query, in Read's order; SL and SH
// have none.
std::string* EditFor(CTrackerDlg& dialog, RadioParameter parameter) {
  for (const RadioEdit& e : kRadioEdits) {
    if (e.parameter == parameter) return &(dialog.*e.member);
  }
  return nullptr;
}

// Longer values would be cut when the radio echoes them back on a Read.
constexpr size_t kMaxRadioValue = 63;

// A CR or any other control byte inside a value would end the AT command early
// and reach the tracker as commands of its own.
bool IsPrintable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// One byte of the settings memory or of the registers; false once the link
// is lost.
bool ReadNv(uint8_t address, uint8_t& value) {
  value = ReadNvByte(address);
  return !LinkLost();
}

bool ReadRegister(uint8_t address, uint8_t& value) {
  value = ReadRegisterByte(address);
  return !LinkLost();
}

bool WriteBytes(uint8_t address, const char* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    WriteNvByte(static_cast<uint8_t>(address + i), static_cast<uint8_t>(bytes[i]));
    if (LinkLost()) return false;
  }
  return true;
}

}  // namespace

void CTrackerDlg::OnRead() {
  if (RefuseWhileBusy()) return;
  UpdateData(true);  // a field's check message does not stop a Read
  UpdateData(false);
  // Only a Read that completed unlocks Write and Update: after any other the
  // window holds values nobody read from this tracker.
  configRead = false;
  TrackerIdentity found;
  const auto readTracker = [this, &found]() -> bool {
    if (!OpenPort(portName)) return false;

    const std::string model = GetModel();
    if (model == "err" || LinkLost()) return false;

    // A device that is no tracker (a GPS receiver on the wrong port, say)
    // answers with other text; nothing has been written to it yet, and its
    // "model" is no model to show.
    bool versionIsNumber = false;
    const int version = GetVersion(&versionIsNumber);
    if (version == 999 || !versionIsNumber || LinkLost()) return false;
    modelLabel = "Model: " + model;
    versionLabel = FormatText("Version %d", version);
    found.model = model;
    found.firmwareVersion = version;

    uint8_t batteryHigh = 0, batteryLow = 0;
    if (!ReadRegister(kRegisterBatteryHigh, batteryHigh)) return false;
    if (!ReadRegister(kRegisterBatteryLow, batteryLow)) return false;
    found.battery =
        FormatText("%4.2f", voltsFromCount(static_cast<uint16_t>(batteryHigh * 256 + batteryLow)));
    batteryLabel = "battery: " + found.battery;

    for (int p = 0; p < kRadioParameterCount; ++p) {
      const std::string reply = RadioAtCommand(std::string("AT") + kRadioParameterNames[p]);
      RadioParameterCache[p] = reply;
      if (reply == "ERR" || LinkLost()) return false;
      if (std::string* edit = EditFor(*this, static_cast<RadioParameter>(p))) *edit = reply;
    }
    destinationLabel = "Dest: " + RadioParameterCache[kDT];
    RadioAtCommand("ATCN");
    if (LinkLost()) return false;
    DeviceLink.radioCommandMode = 0;
    hopChannelLabel = "Hop Chan " + RadioParameterCache[kHP];
    vendorIdLabel = "Vendor ID " + RadioParameterCache[kID];
    radioSerialLabel = "Serial Number " + RadioParameterCache[kSH] + RadioParameterCache[kSL];
    addressMaskLabel = "Address Mask: " + RadioParameterCache[kMK];

    uint8_t high = 0, low = 0, value = 0;
    if (!ReadNv(kNvSerialHigh, high) || !ReadNv(kNvSerialLow, low)) return false;
    serialNumber = high * 256u + low;
    found.serialNumber = serialNumber;
    serialNumberLabel = FormatText("Serial #: %d", static_cast<int>(serialNumber));
    const std::array<char, 4> expectedDigits = serialDigits(serialNumber);
    if (!ReadNv(kNvTransmitInterval, value)) return false;
    transmitInterval = value;
    if (!ReadNv(kNvStoreInterval, value)) return false;
    storeInterval = value;
    if (!ReadNv(kNvTransmitSlot, value)) return false;
    transmitSlot = value;

    if (!ReadNv(kNvShutdownLow, low) || !ReadNv(kNvShutdownHigh, high)) return false;
    shutdownVoltage = FormatText("%4.2f", voltsFromCount(static_cast<uint16_t>(high * 256 + low)));

    if (!ReadNv(kNvOptionFlags, value)) return false;
    unpackOptionFlags(value, OptionFlagMembers());

    bool idIntact = true;
    for (size_t i = 0; i < kIdString.size(); ++i) {  // all eight, even after a mismatch
      if (!ReadNv(static_cast<uint8_t>(kNvIdString + i), value)) return false;
      if (value != static_cast<uint8_t>(kIdString[i])) idIntact = false;
    }
    if (!idIntact) {
      msg::Tell(msg::Id::kIdStringRecovery);
      if (!WriteBytes(kNvIdString, kIdString.data(), kIdString.size())) return false;
    }

    bool digitsAgree = true;
    for (size_t i = 0; i < expectedDigits.size(); ++i) {
      if (!ReadNv(static_cast<uint8_t>(kNvSerialDigits + i), value)) return false;
      if (value != static_cast<uint8_t>(expectedDigits[i])) digitsAgree = false;
    }
    if (!digitsAgree) {
      msg::Tell(msg::Id::kIdsDoNotMatch);
    }
    return true;
  };
  if (!readTracker()) {
    // What was read shows, and that it is not all: the previous tracker's
    // "Read Complete" must not stand over it.
    ShowStatus(msg::Id::kReadFailed);
    UpdateData(false);
    return;
  }
  configRead = true;
  RememberCompletedRead(portName, found);
  ShowStatus(msg::Id::kReadComplete);
  UpdateData(false);
  ClosePort();
}

void CTrackerDlg::OnWrite() {
  if (RefuseWhileBusy()) return;
  // A rejected field must not reach the tracker, nor stale values for the
  // fields after it.
  if (!UpdateData(true)) return;
  if (!configRead) {
    msg::Tell(msg::Id::kReadBeforeWrite);
    return;
  }
  // The conversion never fails: "abc" would store 0 V (protection off) and
  // "9.99" the highest count, both as "Write Complete".
  if (!isStorableVoltsText(shutdownVoltage)) {
    msg::Report(msg::Id::kShutdownVoltageOutOfRange);
    ReportFieldError(IDC_SHUTDOWN_VOLTAGE, msg::Text(msg::Id::kShutdownVoltageOutOfRange), true);
    return;
  }
  if (!OpenPort(portName)) return;
  const int count = countFromVoltsText(shutdownVoltage);
  const uint8_t bytes[][2] = {
      {kNvTransmitInterval, static_cast<uint8_t>(transmitInterval)},
      {kNvStoreInterval, static_cast<uint8_t>(storeInterval)},
      {kNvTransmitSlot, static_cast<uint8_t>(transmitSlot)},
      {kNvShutdownHigh, static_cast<uint8_t>((count >> 8) & 3)},
      {kNvShutdownLow, static_cast<uint8_t>(count & 0xFF)},
      {kNvOptionFlags, packOptionFlags(OptionFlagMembers())},
  };
  for (const auto& b : bytes) {
    WriteNvByte(b[0], b[1]);
    if (LinkLost()) return;
  }
  ShowStatus(msg::Id::kWriteComplete);
  UpdateData(false);
}

void CTrackerDlg::OnUpdate() {
  if (RefuseWhileBusy()) return;
  if (!UpdateData(true)) return;
  // Without a completed Read the serial number and the radio values are the
  // window's start-up values, not this tracker's.
  if (!configRead) {
    msg::Tell(msg::Id::kReadBeforeWrite);
    return;
  }
  for (const RadioEdit& e : kRadioEdits) {
    const std::string& value = this->*e.member;
    if (value == RadioParameterCache[e.parameter]) continue;  // not sent
    if (value.size() > kMaxRadioValue) {
      msg::Report(msg::Id::kRadioValueTooLong);
      ReportFieldError(e.control, msg::Text(msg::Id::kRadioValueTooLong), true);
      return;
    }
    if (!IsPrintable(value)) {
      msg::Report(msg::Id::kRadioValueNotPrintable);
      ReportFieldError(e.control, msg::Text(msg::Id::kRadioValueNotPrintable), true);
      return;
    }
  }
  if (!OpenPort(portName)) return;
  for (const RadioEdit& e : kRadioEdits) {
    const std::string& value = this->*e.member;
    if (value == RadioParameterCache[e.parameter]) continue;
    RadioAtCommand(std::string("AT") + kRadioParameterNames[e.parameter] + value);
    if (LinkLost()) return;
  }
  if (DeviceLink.radioCommandMode) {
    msg::Tell(msg::Id::kCommittingData);
    RadioAtCommand("ATWR");
    if (LinkLost()) return;
    RadioAtCommand("ATCN");
    if (LinkLost()) return;
    DeviceLink.radioCommandMode = 0;
  }
  const char serial[2] = {static_cast<char>((serialNumber >> 8) & 0xFF),
                          static_cast<char>(serialNumber & 0xFF)};
  if (!WriteBytes(kNvSerialHigh, serial, 2)) return;
  if (!WriteBytes(kNvIdString, kIdString.data(), kIdString.size())) return;
  const std::array<char, 4> digits = serialDigits(serialNumber);
  WriteBytes(kNvSerialDigits, digits.data(), digits.size());
}
