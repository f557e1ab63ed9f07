#include "app/data_exchange.h"

#include "app/control_ids.h"

namespace {

using D = CTrackerDlg;
using K = BindingKind;

constexpr Binding Text(int control, const char* name, std::string D::*member, int maxChars = 0) {
  Binding b{control, K::kText, name};
  b.text = member;
  b.maxChars = maxChars;
  return b;
}

constexpr Binding Unsigned(int control, const char* name, uint32_t D::*member) {
  Binding b{control, K::kUnsigned, name};
  b.number = member;
  return b;
}

constexpr Binding Ranged(int control, const char* name, uint32_t D::*member, uint32_t lo,
                         uint32_t hi) {
  Binding b = Unsigned(control, name, member);
  b.ranged = true;
  b.minimum = lo;
  b.maximum = hi;
  return b;
}

constexpr Binding Check(int control, const char* name, int D::*member) {
  Binding b{control, K::kCheck, name};
  b.check = member;
  return b;
}

constexpr Binding Combo(int control, const char* name, std::string D::*member) {
  Binding b{control, K::kComboText, name};
  b.text = member;
  return b;
}

}  // namespace

const std::array<Binding, 34> kBindings = {{
    {IDC_PROGRESS, K::kAttach, "progressBar"},
    Combo(IDC_COM_PORT, "portName", &D::portName),
    Text(IDC_MODEL_LABEL, "modelLabel", &D::modelLabel),
    Text(IDC_VERSION_LABEL, "versionLabel", &D::versionLabel),
    Text(IDC_BATTERY_LABEL, "batteryLabel", &D::batteryLabel),
    Text(IDC_HOP_CHANNEL_LABEL, "hopChannelLabel", &D::hopChannelLabel),
    Text(IDC_RADIO_SERIAL_LABEL, "radioSerialLabel", &D::radioSerialLabel),
    Text(IDC_VENDOR_ID_LABEL, "vendorIdLabel", &D::vendorIdLabel),
    Text(IDC_ADDRESS_MASK_LABEL, "addressMaskLabel", &D::addressMaskLabel),
    Text(IDC_PERCENT_LABEL, "percentLabel", &D::percentLabel),
    Text(IDC_RADIO_HP, "radioHP", &D::radioHP),
    Text(IDC_RADIO_ID, "radioID", &D::radioID),
    // Stored as 16 bits beside four digits of it: a larger number would make
    // the two disagree.
    Ranged(IDC_SERIAL_NUMBER, "serialNumber", &D::serialNumber, 0, 65535),
    Ranged(IDC_STORE_INTERVAL, "storeInterval", &D::storeInterval, 1, 255),
    Ranged(IDC_TRANSMIT_INTERVAL, "transmitInterval", &D::transmitInterval, 1, 255),
    Text(IDC_STATUS, "statusText", &D::statusText),
    Check(IDC_LOW_VOLTAGE_SHUTDOWN, "lowVoltageShutdown", &D::lowVoltageShutdown),
    Text(IDC_SHUTDOWN_VOLTAGE, "shutdownVoltage", &D::shutdownVoltage),
    Check(IDC_G_SWITCH_ENABLE, "gSwitchEnable", &D::gSwitchEnable),
    Check(IDC_WRAP_MEMORY, "wrapMemory", &D::wrapMemory),
    Check(IDC_ENABLE_DATA_LOGGING, "enableDataLogging", &D::enableDataLogging),
    Check(IDC_METERS_TO_FEET, "metersToFeet", &D::metersToFeet),
    Check(IDC_STORE_HMS, "storeHms", &D::storeHms),
    Check(IDC_ENABLE_NMEA, "enableNmea", &D::enableNmea),
    Check(IDC_ENABLE_TX_SENTENCE, "enableTxSentence", &D::enableTxSentence),
    Ranged(IDC_TRANSMIT_SLOT, "transmitSlot", &D::transmitSlot, 0, 60),
    Text(IDC_PROGRAM_VERSION_LABEL, "programVersionLabel", &D::programVersionLabel, 64),
    Text(IDC_SERIAL_NUMBER_LABEL, "serialNumberLabel", &D::serialNumberLabel),
    Text(IDC_DESTINATION_LABEL, "destinationLabel", &D::destinationLabel),
    Text(IDC_RADIO_RO, "radioRO", &D::radioRO),
    Text(IDC_RADIO_RN, "radioRN", &D::radioRN),
    Text(IDC_RADIO_RR, "radioRR", &D::radioRR),
    Text(IDC_RADIO_MK, "radioMK", &D::radioMK),
    Text(IDC_RADIO_DT, "radioDT", &D::radioDT),
}};

void CTrackerDlg::DoDataExchange(CDataExchange* pDX) {
  // A worker's latest texts count as assigned before this exchange.
  TakeHandedOverTexts();
  for (const Binding& b : kBindings) {
    switch (b.kind) {
      case K::kAttach:
        DDX_Control(pDX, b.control, progressBar);
        break;
      case K::kComboText:
        DDX_CBString(pDX, b.control, this->*b.text);
        break;
      case K::kText:
        DDX_Text(pDX, b.control, this->*b.text);
        if (b.maxChars > 0) DDV_MaxChars(pDX, this->*b.text, b.maxChars);
        break;
      case K::kUnsigned:
        DDX_Text(pDX, b.control, this->*b.number);
        if (b.ranged) DDV_MinMaxUInt(pDX, this->*b.number, b.minimum, b.maximum);
        break;
      case K::kCheck:
        DDX_Check(pDX, b.control, this->*b.check);
        break;
    }
  }
}

std::string BoundValue(const CTrackerDlg& dialog, const Binding& binding) {
  switch (binding.kind) {
    case K::kText:
    case K::kComboText:
      return dialog.*binding.text;
    case K::kUnsigned:
      return std::to_string(dialog.*binding.number);
    case K::kCheck:
      return std::to_string(dialog.*binding.check);
    case K::kAttach:
      break;
  }
  return {};
}
