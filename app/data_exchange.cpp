#include "app/data_exchange.h"

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
    {1015, K::kAttach, "progressBar"},
    Combo(1013, "portName", &D::portName),
    Text(1007, "modelLabel", &D::modelLabel),
    Text(1006, "versionLabel", &D::versionLabel),
    Text(1008, "batteryLabel", &D::batteryLabel),
    Text(1011, "hopChannelLabel", &D::hopChannelLabel),
    Text(1010, "radioSerialLabel", &D::radioSerialLabel),
    Text(1012, "vendorIdLabel", &D::vendorIdLabel),
    Text(1014, "addressMaskLabel", &D::addressMaskLabel),
    Text(1016, "percentLabel", &D::percentLabel),
    Text(1017, "radioHP", &D::radioHP),
    Text(1018, "radioID", &D::radioID),
    // Stored as 16 bits beside four digits of it: a larger number would make
    // the two disagree.
    Ranged(1009, "serialNumber", &D::serialNumber, 0, 65535),
    Ranged(1024, "storeInterval", &D::storeInterval, 1, 255),
    Ranged(1027, "transmitInterval", &D::transmitInterval, 1, 255),
    Text(1026, "statusText", &D::statusText),
    Check(1035, "lowVoltageShutdown", &D::lowVoltageShutdown),
    Text(1034, "shutdownVoltage", &D::shutdownVoltage),
    Check(1021, "gSwitchEnable", &D::gSwitchEnable),
    Check(1020, "wrapMemory", &D::wrapMemory),
    Check(1036, "enableDataLogging", &D::enableDataLogging),
    Check(1037, "metersToFeet", &D::metersToFeet),
    Check(1038, "storeHms", &D::storeHms),
    Check(1022, "enableNmea", &D::enableNmea),
    Check(1023, "enableTxSentence", &D::enableTxSentence),
    Ranged(1047, "transmitSlot", &D::transmitSlot, 0, 60),
    Text(1048, "programVersionLabel", &D::programVersionLabel, 64),
    Text(1050, "serialNumberLabel", &D::serialNumberLabel),
    Text(1051, "destinationLabel", &D::destinationLabel),
    Text(1025, "radioRO", &D::radioRO),
    Text(1029, "radioRN", &D::radioRN),
    Text(1030, "radioRR", &D::radioRR),
    Text(1019, "radioMK", &D::radioMK),
    Text(1028, "radioDT", &D::radioDT),
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
