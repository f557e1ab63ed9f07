#include "app/resources.h"

#include <cstdlib>

#include "app/control_ids.h"
#include "app/track_menu.h"
#include "kw9_version.h"

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
    {IDC_READ, kPush, "Read", 226, 3, 50, 14, kNoFlags},
    {IDC_WRITE, kPush, "Write", 226, 20, 50, 14, kNoFlags},
    {IDC_UPDATE, kPush, "Update", 151, 199, 50, 14, kNoFlags},
    {IDC_READ_FLASH, kPush, "Read Flash", 226, 36, 50, 14, kNoFlags},
    {IDC_CLEAR_FLASH, kPush, "Clear Flash", 226, 54, 50, 14, kNoFlags},
    {IDC_VERSION_LABEL, kLabel, "Firmware Version", 125, 20, 54, 8, kNoFlags},
    {IDC_MODEL_LABEL, kLabel, "Model", 125, 9, 92, 8, kNoFlags},
    {IDC_BATTERY_LABEL, kLabel, "Battery", 125, 86, 85, 8, kNoFlags},
    {IDC_SERIAL_NUMBER, kEdit, "", 219, 95, 25, 14, kNoFlags},
    {IDC_SERIAL_NUMBER_TAG, kLabel, "Ser#", 249, 96, 16, 8, kNoFlags},
    {IDC_RADIO_SERIAL_LABEL, kLabel, "Serial Number", 125, 42, 90, 8, kNoFlags},
    {IDC_HOP_CHANNEL_LABEL, kLabel, "Hopping Channel", 125, 53, 86, 8, kNoFlags},
    {IDC_VENDOR_ID_LABEL, kLabel, "Vendor ID", 125, 31, 92, 8, kNoFlags},
    {IDC_COM_PORT, kCombo, "", 13, 9, 46, 51, kNoFlags},
    {IDC_ADDRESS_MASK_LABEL, kLabel, "Address Mask", 125, 64, 90, 8, kNoFlags},
    {IDC_PROGRESS, kProgress, "Progress1", 13, 223, 239, 8, kNoFlags},
    {IDC_PERCENT_LABEL, kLabel, "100%", 255, 222, 18, 8, kNoFlags},
    {IDC_STATIC, kLabel, "Com Port", 65, 11, 30, 8, kNoFlags},
    {IDC_RADIO_HP, kEdit, "", 219, 109, 25, 14, kNoFlags},
    {IDC_RADIO_HP_TAG, kLabel, "ATHP", 249, 111, 20, 8, kNoFlags},
    {IDC_RADIO_ID, kEdit, "", 219, 151, 25, 14, kNoFlags},
    {IDC_RADIO_ID_TAG, kLabel, "ATID", 249, 155, 18, 8, kNoFlags},
    {IDC_RADIO_MK, kEdit, "", 219, 123, 25, 14, kNoFlags},
    {IDC_RADIO_MK_TAG, kLabel, "ATMK", 249, 126, 21, 8, kNoFlags},
    {IDC_WRAP_MEMORY, kCheck, "Wrap Mem", 17, 132, 51, 10, kNoFlags},
    {IDC_G_SWITCH_ENABLE, kCheck, "G Switch Enable", 17, 118, 69, 10, kHidden},
    {IDC_STORE_INTERVAL, kEdit, "", 14, 29, 24, 14, kNoFlags},
    {IDC_STATUS, kEdit, "", 15, 201, 120, 14, kNoFlags},
    {IDC_TRANSMIT_INTERVAL, kEdit, "", 14, 48, 24, 14, kNoFlags},
    {IDC_STATIC, kLabel, "Store Interval", 42, 32, 43, 8, kNoFlags},
    {IDC_STATIC, kLabel, "Transmit Interval", 42, 52, 53, 8, kNoFlags},
    {IDC_RADIO_DT, kEdit, "", 219, 137, 25, 14, kNoFlags},
    {IDC_RADIO_DT_TAG, kLabel, "ATDT", 249, 141, 20, 8, kNoFlags},
    {IDC_ENABLE_NMEA, kCheck, "Enable NMEA", 87, 118, 61, 10, kNoFlags},
    {IDC_ENABLE_TX_SENTENCE, kCheck, "Enable $KLXTX", 87, 132, 68, 10, kNoFlags},
    {IDC_SHUTDOWN_VOLTAGE, kEdit, "", 14, 84, 24, 14, kNoFlags},
    {IDC_STATIC, kLabel, "Shutdown Voltage", 41, 88, 59, 8, kNoFlags},
    {IDC_LOW_VOLTAGE_SHUTDOWN, kCheck, "LowV Shutdown", 17, 146, 68, 10, kNoFlags},
    {IDC_ENABLE_DATA_LOGGING, kCheck, "Enable Data Logging", 87, 158, 83, 10, kNoFlags},
    {IDC_METERS_TO_FEET, kCheck, "Convert Meters to feet", 87, 146, 86, 10, kNoFlags},
    {IDC_STORE_HMS, kCheck, "Store Hms", 17, 158, 49, 10, kHidden},
    {IDC_GO, kPush, "Go!", 226, 70, 50, 14, kNoFlags},
    {IDC_TRANSMIT_SLOT, kEdit, "", 14, 67, 24, 14, kNoFlags},
    {IDC_STATIC, kLabel, "Transmit Slot", 42, 70, 42, 8, kNoFlags},
    {IDC_PROGRAM_VERSION_LABEL, kLabel, "Version xxx", 14, 237, 106, 8, kNoFlags},
    {IDC_FLASH_TEST, kPush, "Flash Test", 151, 179, 50, 14, kNoFlags},
    {IDC_SERIAL_NUMBER_LABEL, kLabel, "Ser #:", 125, 97, 89, 8, kNoFlags},
    {IDC_DESTINATION_LABEL, kLabel, "Destination ", 125, 75, 84, 8, kNoFlags},
    {IDC_RADIO_RO, kEdit, "", 220, 167, 25, 14, kNoFlags},
    {IDC_RADIO_RN, kEdit, "", 220, 182, 25, 14, kNoFlags},
    {IDC_RADIO_RR, kEdit, "", 220, 199, 25, 14, kNoFlags},
    {IDC_RADIO_RO_TAG, kLabel, "ATRO", 249, 172, 21, 8, kNoFlags},
    {IDC_RADIO_RN_TAG, kLabel, "ATRN", 249, 186, 21, 8, kNoFlags},
    {IDC_RADIO_RR_TAG, kLabel, "ATRR", 249, 201, 21, 8, kNoFlags},
    {IDC_FIX_KML, kPush, "Fix KML", 86, 180, 50, 14, kNoFlags},
};

constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC, kIcon, "128", 11, 17, 20, 20, kNoFlags},
    // The version the programs' --version and the version block show.
    {IDC_STATIC, kLabel, "kw9 Version " KW9_VERSION, 40, 10, 119, 8, kNoPrefix},
    {IDC_STATIC, kLabel, "Tracker set-up and log download", 40, 25, 119, 8, kNoFlags},
    {1, kDefaultPush, "OK", 178, 7, 50, 14, kNoFlags},
};

// Export Track's question when the dates would come from the file itself:
// its stamp's download time or its modification time (the first line says
// which).
constexpr ControlTemplate kExportDateControls[] = {
    {IDC_EXPORT_DATE_SOURCE, kLabel, "The dates come from the file's modification time,", 7, 7, 206,
     8, kNoFlags},
    {IDC_EXPORT_DATE_NOTICE, kLabel, "", 7, 17, 206, 8, kNoPrefix},
    {IDC_STATIC, kLabel, "Or the UTC date of the first fix (YYYY-MM-DD):", 7, 33, 150, 8, kNoFlags},
    {IDC_EXPORT_DATE, kEdit, "", 160, 31, 53, 12, kNoFlags},
    {1, kDefaultPush, "Export", 106, 52, 50, 14, kNoFlags},
    {2, kPush, "Cancel", 163, 52, 50, 14, kNoFlags},
};

constexpr ControlTemplate kClearFlashControls[] = {
    {1, kDefaultPush, "CLEAR", 7, 72, 50, 14, kNoFlags},
    {2, kPush, "Cancel", 112, 72, 50, 14, kNoFlags},
    {IDC_STATIC, kLabel, "Are you sure you want to clear the flash?", 24, 17, 129, 8, kNoFlags},
    {IDC_STATIC, kLabel, "Press CLEAR to delete the data forever", 24, 33, 125, 8, kNoFlags},
    {IDC_STATIC, kLabel, "Otherwise press Cancel", 24, 47, 75, 8, kNoFlags},
    {IDC_CLEAR_FLASH_PORT, kLabel, "", 24, 5, 129, 8, kNoPrefix},
};

constexpr ui::DialogTemplate kDialogs[] = {
    {IDD_ABOUTBOX, "About kw9", 235, 55, "MS Sans Serif", 8, kDialogStyle, 0, kAboutControls},
    {IDD_TRACKER_DIALOG, "kw9", 284, 256, "MS Sans Serif", 8, kDialogStyle | ui::kStyleVisible,
     ui::kExStyleAppWindow, kMainControls},
    {IDD_CLEAR_FLASH, "Dialog", 169, 93, "MS Sans Serif", 8, kDialogStyle, 0, kClearFlashControls},
    {IDD_EXPORT_DATE, "Export Track", 220, 73, "MS Sans Serif", 8, kDialogStyle, 0,
     kExportDateControls},
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
  std::abort();  // a programming error: only the IDD_ numbers exist
}

std::string LoadResourceString(int id) {
  for (const StringResource& s : kStrings) {
    if (s.id == id) return s.text;
  }
  return {};
}
