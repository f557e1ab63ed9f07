// Settings profiles: the everyday settings and radio parameters of one
// tracker as a JSON file, to be applied to many. A profile never holds
// identity (serial number, radio serial).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace config {

class JsonWriter;

constexpr int64_t kProfileFormat = 1;

enum class ProfileKind { kNumber, kText, kSwitch };

struct ProfileField {
  const char* group;   // "settings" or "radio"
  const char* member;  // the window's member name, also the profile's
  ProfileKind kind;
};
std::span<const ProfileField> ProfileFields();

// A value in the window's own text form: a number in decimal as written, a
// switch as "0" or "1", a text as it is.
struct ProfileValue {
  const ProfileField* field;
  std::string text;
};

struct Profile {
  std::vector<ProfileValue> values;  // those the file holds, in table order
  // For information only.
  std::string model;
  std::optional<int64_t> firmwareVersion;
  std::string readAt;
};

struct ProfileRead {
  std::optional<Profile> profile;
  std::string problem;  // "FILE:LINE: what is wrong" when there is no profile
};

ProfileRead ParseProfile(const std::string& text, const std::string& fileName);
// Reads the file path and parses it; problem also says when it cannot be
// read or is larger than any profile. path must have passed the input check
// (app/file_checks.h).
ProfileRead ReadProfileFile(const std::string& path);

// A value as JSON: a number as written, a switch as true or false, a text as
// a string.
void WriteProfileValue(JsonWriter& w, const ProfileField& field, const std::string& text);

// The profile as the file profile save writes, indented, with a final line end.
std::string ProfileText(const Profile& profile);

}  // namespace config
