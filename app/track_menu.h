// The track menu's items (the tracks and the settings profiles) and what
// they share with Read Flash.
#pragma once

#include "platform/ui/backend.h"

// System menu ids: multiples of 16 below 0xF000, after About's 0x0010.
constexpr unsigned IDM_EXPORT_TRACK = 0x0020;
constexpr unsigned IDM_SHOW_TRACK = 0x0030;
constexpr unsigned IDM_SAVE_PROFILE = 0x0040;
constexpr unsigned IDM_LOAD_PROFILE = 0x0050;

// Export Track's date question (IDD_EXPORT_DATE): what the dates would come
// from (the download time the file's stamp holds, else its modification
// time) and that moment, and the first fix's date the user may give instead.
constexpr int IDC_EXPORT_DATE_NOTICE = 1060;
constexpr int IDC_EXPORT_DATE = 1061;
constexpr int IDC_EXPORT_DATE_SOURCE = 1062;

// The items, in the menu's order.
void AppendTrackMenu(ui::Window& window);
