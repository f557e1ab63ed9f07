#include "config/profile.h"

#include <array>
#include <cstdio>

#include "config/json.h"
#include "platform/os/os.h"

namespace config {

namespace {

using K = ProfileKind;

constexpr std::array<ProfileField, 17> kProfileFields = {{
    {"settings", "storeInterval", K::kNumber},
    {"settings", "transmitInterval", K::kNumber},
    {"settings", "transmitSlot", K::kNumber},
    {"settings", "shutdownVoltage", K::kText},
    {"settings", "wrapMemory", K::kSwitch},
    {"settings", "lowVoltageShutdown", K::kSwitch},
    {"settings", "enableDataLogging", K::kSwitch},
    {"settings", "metersToFeet", K::kSwitch},
    {"settings", "enableNmea", K::kSwitch},
    {"settings", "enableTxSentence", K::kSwitch},
    {"radio", "radioHP", K::kText},
    {"radio", "radioID", K::kText},
    {"radio", "radioMK", K::kText},
    {"radio", "radioDT", K::kText},
    {"radio", "radioRO", K::kText},
    {"radio", "radioRN", K::kText},
    {"radio", "radioRR", K::kText},
}};

constexpr const char* kFormatKey = "kw9-profile";

class Reader {
 public:
  explicit Reader(const std::string& fileName) : file_(fileName) {}

  ProfileRead Read(const std::string& text) {
    const JsonParse parsed = ParseJson(text);
    if (!parsed.value) {
      // A name given twice is JSON, but which value was meant nobody knows.
      return Problem(parsed.line, (parsed.duplicateName ? "" : "not JSON: ") + parsed.problem);
    }
    const JsonValue& root = *parsed.value;
    if (root.kind != JsonValue::Kind::kObject) {
      return Problem(root.line, "wrong type: a profile is a JSON object");
    }
    const JsonMember* format = nullptr;
    for (const JsonMember& m : root.members) {
      if (m.name == kFormatKey) format = &m;
    }
    if (format == nullptr) return Problem(root.line, "no \"kw9-profile\" format number");
    const std::optional<int64_t> number = format->value.Integer();
    if (!number) return Problem(format->line, "wrong type: \"kw9-profile\" must be a whole number");
    if (*number != kProfileFormat) {
      return Problem(format->line, "unknown \"kw9-profile\" format number " + format->value.text +
                                       " (this kw9cli reads " + std::to_string(kProfileFormat) +
                                       ")");
    }
    Profile profile;
    for (const JsonMember& m : root.members) {
      if (m.name == kFormatKey) continue;
      if (m.name == "about") {
        if (!About(m, profile)) return failure_;
      } else if (m.name == "settings" || m.name == "radio") {
        if (!Group(m, profile)) return failure_;
      } else {
        return Problem(m.line, "unknown field \"" + m.name + "\"");
      }
    }
    // In table order, whatever the file's order.
    std::vector<ProfileValue> ordered;
    for (const ProfileField& f : kProfileFields) {
      for (const ProfileValue& v : profile.values) {
        if (v.field == &f) ordered.push_back(v);
      }
    }
    profile.values = std::move(ordered);
    ProfileRead result;
    result.profile = std::move(profile);
    return result;
  }

 private:
  ProfileRead Problem(int line, const std::string& what) {
    failure_.problem = file_ + ":" + std::to_string(line) + ": " + what;
    return failure_;
  }
  bool Fail(int line, const std::string& what) {
    Problem(line, what);
    return false;
  }

  bool Group(const JsonMember& group, Profile& profile) {
    if (group.value.kind != JsonValue::Kind::kObject) {
      return Fail(group.line, "wrong type: \"" + group.name + "\" must be an object");
    }
    for (const JsonMember& m : group.value.members) {
      const ProfileField* field = nullptr;
      for (const ProfileField& f : kProfileFields) {
        if (m.name == f.member && group.name == f.group) field = &f;
      }
      if (field == nullptr) {
        return Fail(m.line, "unknown field \"" + m.name + "\" in \"" + group.name + "\"");
      }
      const JsonValue& v = m.value;
      switch (field->kind) {
        case K::kNumber:
          if (v.kind != JsonValue::Kind::kNumber ||
              v.text.find_first_of(".eE") != std::string::npos) {
            return Fail(m.line, "wrong type: " + m.name + " must be a whole number");
          }
          profile.values.push_back({field, v.text});
          break;
        case K::kText:
          if (v.kind != JsonValue::Kind::kString) {
            return Fail(m.line, "wrong type: " + m.name + " must be a text in double quotes");
          }
          profile.values.push_back({field, v.text});
          break;
        case K::kSwitch:
          if (v.kind != JsonValue::Kind::kBool) {
            return Fail(m.line, "wrong type: " + m.name + " must be true or false");
          }
          profile.values.push_back({field, v.boolean ? "1" : "0"});
          break;
      }
    }
    return true;
  }

  bool About(const JsonMember& about, Profile& profile) {
    if (about.value.kind != JsonValue::Kind::kObject) {
      return Fail(about.line, "wrong type: \"about\" must be an object");
    }
    for (const JsonMember& m : about.value.members) {
      const JsonValue& v = m.value;
      if (m.name == "model" || m.name == "readAt") {
        if (v.kind != JsonValue::Kind::kString) {
          return Fail(m.line, "wrong type: " + m.name + " must be a text in double quotes");
        }
        (m.name == "model" ? profile.model : profile.readAt) = v.text;
      } else if (m.name == "firmwareVersion") {
        if (v.kind == JsonValue::Kind::kNull) continue;
        if (!v.Integer()) return Fail(m.line, "wrong type: firmwareVersion must be a whole number");
        profile.firmwareVersion = v.Integer();
      } else {
        return Fail(m.line, "unknown field \"" + m.name + "\" in \"about\"");
      }
    }
    return true;
  }

  std::string file_;
  ProfileRead failure_;
};

}  // namespace

std::span<const ProfileField> ProfileFields() {
  return kProfileFields;
}

ProfileRead ParseProfile(const std::string& text, const std::string& fileName) {
  return Reader(fileName).Read(text);
}

ProfileRead ReadProfileFile(const std::string& path) {
  // A profile is a few hundred bytes; a megabyte is no profile.
  constexpr size_t kLargest = size_t{1} << 20;
  ProfileRead failed;
  std::string text;
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) {
    failed.problem = path + ": cannot be read";
    return failed;
  }
  char buffer[4096];
  for (size_t n; text.size() <= kLargest && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, n);
  }
  const bool readFailed = std::ferror(file) != 0;
  std::fclose(file);
  if (readFailed) {
    failed.problem = path + ": cannot be read";
  } else if (text.size() > kLargest) {
    failed.problem = path + " is larger than 1 MB, more than any profile: not read";
  } else {
    return ParseProfile(text, path);
  }
  return failed;
}

void WriteProfileValue(JsonWriter& w, const ProfileField& field, const std::string& text) {
  switch (field.kind) {
    case K::kNumber:
      w.RawNumber(text);
      break;
    case K::kSwitch:
      w.Bool(text != "0");
      break;
    case K::kText:
      w.String(text);
      break;
  }
}

std::string ProfileText(const Profile& profile) {
  JsonWriter w(true);
  w.BeginObject();
  w.Key(kFormatKey).Integer(kProfileFormat);
  w.Key("about").BeginObject();
  w.Key("model").String(profile.model);
  w.Key("firmwareVersion");
  if (profile.firmwareVersion) {
    w.Integer(*profile.firmwareVersion);
  } else {
    w.Null();
  }
  w.Key("readAt").String(profile.readAt);
  w.EndObject();
  for (const char* group : {"settings", "radio"}) {
    w.Key(group).BeginObject();
    for (const ProfileValue& v : profile.values) {
      if (std::string(v.field->group) != group) continue;
      w.Key(v.field->member);
      WriteProfileValue(w, *v.field, v.text);
    }
    w.EndObject();
  }
  w.EndObject();
  return w.Text() + "\n";
}

}  // namespace config
