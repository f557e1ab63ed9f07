// The tool's resources: the dialog templates every backend builds its
// windows from, the string table and the icon's number.
#pragma once

#include <string>

#include "platform/ui/dialog_template.h"

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_TRACKER_DIALOG = 102;
constexpr int IDD_CLEAR_FLASH = 133;
constexpr int IDD_EXPORT_DATE = 134;
constexpr int IDR_MAINFRAME = 128;  // the icon
constexpr int IDS_ABOUTBOX = 101;
constexpr unsigned IDM_ABOUTBOX = 0x0010;

const ui::DialogTemplate& FindDialogTemplate(int id);  // one of the IDD_ above

// A string of the string table; empty when there is none of that number.
std::string LoadResourceString(int id);
