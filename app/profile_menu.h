// The window's settings profiles: Save Settings Profile... and Load Settings
// Profile... in the track menu, in kw9cli's profile format (config/profile.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/profile.h"

class CTrackerDlg;

// What follows prefix in one of the window's labels ("Model: KLX-TX3"), empty
// when the label does not start with it.
std::string LabelValue(const std::string& label, const std::string& prefix);
// A label's number written in decimal digits alone (at most 9), none otherwise.
std::optional<int64_t> LabelNumber(const std::string& text);

// The profile's values as the window's members hold them, in the profile's
// order; model, firmware and time are the caller's.
config::Profile WindowProfile(const CTrackerDlg& dialog);
