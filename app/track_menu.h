// The track menu's items and what they share with Read Flash.
#pragma once

#include "platform/ui/backend.h"

// System menu ids: multiples of 16 below 0xF000, after About's 0x0010.
constexpr unsigned IDM_EXPORT_TRACK = 0x0020;
constexpr unsigned IDM_SHOW_TRACK = 0x0030;

// The items, in the menu's order.
void AppendTrackMenu(ui::Window& window);
