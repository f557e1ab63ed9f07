// The window's settings profiles: Save Settings Profile... and Load Settings
// Profile... in the track menu, in kw9cli's profile format (config/profile.h).
#pragma once

#include "config/profile.h"

class CTrackerDlg;

// The profile's values as the window's members hold them, in the profile's
// order; model, firmware and time are the caller's.
config::Profile WindowProfile(const CTrackerDlg& dialog);
