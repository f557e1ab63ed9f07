#include "app/resources.h"

#include <cstdlib>

namespace {

using ui::ControlKind;
using ui::ControlTemplate;
using ui::kHidden;
using ui::kNoFlags;
using ui::kNoPrefix;

constexpr ControlKind kPush = ControlKind::kPush;
constexpr ControlKind kDefaultPush = ControlKind::kDefaultPush;
constexpr ControlKind kCheck = ControlKind::kCheck;
constexpr ControlKind kEdit = ControlKind::kEdit;
constexpr ControlKind kLabel = ControlKind::kLabel;
constexpr ControlKind kCombo = ControlKind::kCombo;
constexpr ControlKind kProgress = ControlKind::kProgress;
constexpr ControlKind kIcon = ControlKind::kIcon;

constexpr uint32_t kDialogStyle =
    ui::kStylePopup | ui::kStyleCaption | ui::kStyleSysMenu | ui::kStyleModalFrame;

// The main window, in tab order. Calibration-only controls are created visible
// and hidden by the window's initialisation; kHidden ones are never shown.
constexpr ControlTemplate kMainControls[] = {
    {1000, kPush, "Read", 226, 3, 50, 14, kNoFlags},
    {1001, kPush, "Write", 226, 20, 50, 14, kNoFlags},
    {1002, kPush, "Update", 151, 199, 50, 14, kNoFlags},
    {1003, kPush, "Read Flash", 226, 36, 50, 14, kNoFlags},
    {1004, kPush, "Clear Flash", 226, 54, 50, 14, kNoFlags},
    {1006, kLabel, "Firmware Version", 125, 20, 54, 8, kNoFlags},
    {1007, kLabel, "Model", 125, 9, 92, 8, kNoFlags},
    {1008, kLabel, "Battery", 125, 86, 85, 8, kNoFlags},
    {1009, kEdit, "", 219, 95, 25, 14, kNoFlags},
    {1042, kLabel, "Ser#", 249, 96, 16, 8, kNoFlags},
    {1010, kLabel, "Serial Number", 125, 42, 90, 8, kNoFlags},
    {1011, kLabel, "Hopping Channel", 125, 53, 86, 8, kNoFlags},
    {1012, kLabel, "Vendor ID", 125, 31, 92, 8, kNoFlags},
    {1013, kCombo, "", 13, 9, 46, 51, kNoFlags},
    {1014, kLabel, "Address Mask", 125, 64, 90, 8, kNoFlags},
    {1015, kProgress, "Progress1", 13, 223, 239, 8, kNoFlags},
    {1016, kLabel, "100%", 255, 222, 18, 8, kNoFlags},
    {-1, kLabel, "Com Port", 65, 11, 30, 8, kNoFlags},
    {1017, kEdit, "", 219, 109, 25, 14, kNoFlags},
    {1043, kLabel, "ATHP", 249, 111, 20, 8, kNoFlags},
    {1018, kEdit, "", 219, 151, 25, 14, kNoFlags},
    {1046, kLabel, "ATID", 249, 155, 18, 8, kNoFlags},
    {1019, kEdit, "", 219, 123, 25, 14, kNoFlags},
    {1044, kLabel, "ATMK", 249, 126, 21, 8, kNoFlags},
    {1020, kCheck, "Wrap Mem", 17, 132, 51, 10, kNoFlags},
    {1021, kCheck, "G Switch Enable", 17, 118, 69, 10, kHidden},
    {1024, kEdit, "", 14, 29, 24, 14, kNoFlags},
    {1026, kEdit, "", 15, 201, 120, 14, kNoFlags},
    {1027, kEdit, "", 14, 48, 24, 14, kNoFlags},
    {-1, kLabel, "Store Interval", 42, 32, 43, 8, kNoFlags},
    {-1, kLabel, "Transmit Interval", 42, 52, 53, 8, kNoFlags},
    {1028, kEdit, "", 219, 137, 25, 14, kNoFlags},
    {1045, kLabel, "ATDT", 249, 141, 20, 8, kNoFlags},
    {1022, kCheck, "Enable NMEA", 87, 118, 61, 10, kNoFlags},
    {1023, kCheck, "Enable $KLXTX", 87, 132, 68, 10, kNoFlags},
    {1034, kEdit, "", 14, 84, 24, 14, kNoFlags},
    {-1, kLabel, "Shutdown Voltage", 41, 88, 59, 8, kNoFlags},
    {1035, kCheck, "LowV Shutdown", 17, 146, 68, 10, kNoFlags},
    {1036, kCheck, "Enable Data Logging", 87, 158, 83, 10, kNoFlags},
    {1037, kCheck, "Convert Meters to feet", 87, 146, 86, 10, kNoFlags},
    {1038, kCheck, "Store Hms", 17, 158, 49, 10, kHidden},
    {1039, kPush, "Go!", 226, 70, 50, 14, kNoFlags},
    {1047, kEdit, "", 14, 67, 24, 14, kNoFlags},
    {-1, kLabel, "Transmit Slot", 42, 70, 42, 8, kNoFlags},
    {1048, kLabel, "Version xxx", 14, 237, 106, 8, kNoFlags},
    {1049, kPush, "Flash Test", 151, 179, 50, 14, kNoFlags},
    {1050, kLabel, "Ser #:", 125, 97, 89, 8, kNoFlags},
    {1051, kLabel, "Destination ", 125, 75, 84, 8, kNoFlags},
    {1025, kEdit, "", 220, 167, 25, 14, kNoFlags},
    {1029, kEdit, "", 220, 182, 25, 14, kNoFlags},
    {1030, kEdit, "", 220, 199, 25, 14, kNoFlags},
    {1052, kLabel, "ATRO", 249, 172, 21, 8, kNoFlags},
    {1053, kLabel, "ATRN", 249, 186, 21, 8, kNoFlags},
    {1054, kLabel, "ATRR", 249, 201, 21, 8, kNoFlags},
    {1055, kPush, "Fix KML", 86, 180, 50, 14, kNoFlags},
};

constexpr ControlTemplate kAboutControls[] = {
    {-1, kIcon, "128", 11, 17, 20, 20, kNoFlags},
    {-1, kLabel, "kw9 Version 1.0", 40, 10, 119, 8, kNoPrefix},
    {-1, kLabel, "Tracker set-up and log download", 40, 25, 119, 8, kNoFlags},
    {1, kDefaultPush, "OK", 178, 7, 50, 14, kNoFlags},
};

constexpr ControlTemplate kClearFlashControls[] = {
    {1, kDefaultPush, "CLEAR", 7, 72, 50, 14, kNoFlags},
    {2, kPush, "Cancel", 112, 72, 50, 14, kNoFlags},
    {-1, kLabel, "Are you sure you want to clear the flash?", 24, 17, 129, 8, kNoFlags},
    {-1, kLabel, "Press CLEAR to delete the data forever", 24, 33, 125, 8, kNoFlags},
    {-1, kLabel, "Otherwise press Cancel", 24, 47, 75, 8, kNoFlags},
};

constexpr ui::DialogTemplate kDialogs[] = {
    {IDD_ABOUTBOX, "About kw9", 235, 55, "MS Sans Serif", 8, kDialogStyle, 0, kAboutControls},
    {IDD_TRACKER_DIALOG, "kw9", 284, 256, "MS Sans Serif", 8, kDialogStyle | ui::kStyleVisible,
     ui::kExStyleAppWindow, kMainControls},
    {IDD_CLEAR_FLASH, "Dialog", 169, 93, "MS Sans Serif", 8, kDialogStyle, 0, kClearFlashControls},
};

struct StringResource {
  int id;
  const char* text;
};
constexpr StringResource kStrings[] = {
    {IDS_ABOUTBOX, "&About kw9..."},
};

}  // namespace

const ui::DialogTemplate& FindDialogTemplate(int id) {
  for (const ui::DialogTemplate& d : kDialogs) {
    if (d.id == id) return d;
  }
  std::abort();  // a programming error: only the three numbers above exist
}

std::string LoadResourceString(int id) {
  for (const StringResource& s : kStrings) {
    if (s.id == id) return s.text;
  }
  return {};
}
