// The binding table of the main window: which member goes to which control,
// of what kind, with what check, in the exchange's order. The exchange runs
// over it; kw9cli prints the members by it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/tracker_dlg.h"

enum class BindingKind { kAttach, kText, kUnsigned, kCheck, kComboText };

struct Binding {
  int control;
  BindingKind kind;
  const char* member;
  std::string CTrackerDlg::*text = nullptr;  // kText, kComboText
  uint32_t CTrackerDlg::*number = nullptr;   // kUnsigned
  int CTrackerDlg::*check = nullptr;         // kCheck
  bool ranged = false;                       // a range check on a kUnsigned row
  uint32_t minimum = 0, maximum = 0;
  int maxChars = 0;  // a length check on a kText row when > 0
};

extern const std::array<Binding, 34> kBindings;

// The member's value as text: an unsigned or a check state in decimal.
std::string BoundValue(const CTrackerDlg& dialog, const Binding& binding);
