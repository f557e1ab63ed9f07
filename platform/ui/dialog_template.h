// A dialog template as data: every backend builds its window from one of these,
// so the layout exists exactly once (in app/).
#pragma once

#include <cstdint>
#include <span>

namespace ui {

enum class ControlKind {
  kPush,         // push button, tab stop
  kDefaultPush,  // default push button, tab stop, starts a group
  kCheck,        // automatic two-state check box, tab stop
  kEdit,         // single-line edit, border, tab stop, automatic horizontal scroll
  kLabel,        // left-aligned static text, starts a group
  kCombo,        // drop-down combo: editable field, sorted list, vertical scroll bar, tab stop
  kProgress,     // progress bar with border
  kIcon,         // static icon; text holds the icon's resource number
};

// Control flags beyond what the kind implies.
enum ControlFlags : uint32_t {
  kNoFlags = 0,
  kHidden = 1u << 0,    // created without the visible style
  kNoPrefix = 1u << 1,  // a label whose '&' is shown, not an accelerator
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, w, h;  // dialog units
  uint32_t flags;
};

// Window styles, with their Win32 values so that the Windows backend can use
// them as they stand.
enum DialogStyle : uint32_t {
  kStylePopup = 0x80000000u,
  kStyleVisible = 0x10000000u,
  kStyleCaption = 0x00C00000u,
  kStyleSysMenu = 0x00080000u,
  kStyleModalFrame = 0x00000080u,  // DS_MODALFRAME
  kStyleSetFont = 0x00000040u,     // DS_SETFONT
};
enum DialogExStyle : uint32_t {
  kExStyleAppWindow = 0x00040000u,  // WS_EX_APPWINDOW: a task-bar button
};

struct DialogTemplate {
  int id;
  const char* caption;
  int w, h;  // dialog units
  const char* font;
  int pointSize;
  uint32_t style;
  uint32_t exStyle;
  std::span<const ControlTemplate> controls;  // in tab order

  const ControlTemplate* Find(int controlId) const {
    for (const ControlTemplate& c : controls) {
      if (c.id == controlId) return &c;
    }
    return nullptr;
  }
};

}  // namespace ui
