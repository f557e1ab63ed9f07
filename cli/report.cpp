#include "cli/report.h"

#include "config/json.h"
#include "kw9_version.h"
#include "platform/os/os.h"

namespace cli {

namespace {

void OptionalString(JsonWriter& w, const std::string& key, const std::string& text) {
  w.Key(key);
  if (text.empty()) {
    w.Null();
  } else {
    w.String(text);
  }
}

void Differences(JsonWriter& w, const std::vector<FieldDifference>& differences) {
  w.BeginArray();
  for (const FieldDifference& d : differences) {
    w.BeginObject();
    w.Key("field").String(d.field->member);
    w.Key("profile");
    WriteProfileValue(w, *d.field, d.profile);
    w.Key("tracker");
    WriteProfileValue(w, *d.field, d.tracker);
    w.EndObject();
  }
  w.EndArray();
}

void OptionalInteger(JsonWriter& w, const std::string& key, std::optional<int64_t> value) {
  w.Key(key);
  if (value) {
    w.Integer(*value);
  } else {
    w.Null();
  }
}

// The tracker a file's stamp names.
void TrackerMembers(JsonWriter& w, const TrackerIdentity& t) {
  OptionalString(w, "model", t.model);
  OptionalInteger(w, "firmwareVersion", t.firmwareVersion);
  OptionalInteger(w, "serialNumber", t.serialNumber);
}

// withTracker: false where the tracker has its place at the line's head.
void ExportMembers(JsonWriter& w, const ExportReport& e, bool withTracker = true) {
  w.Key("format").String(e.format);
  w.Key("file").String(e.file);
  w.Key("written").Bool(e.written);
  w.Key("points").Integer(e.points);
  w.Key("untimed").Integer(e.untimed);
  w.Key("segments").Integer(e.segments);
  w.Key("leftOut").Integer(e.leftOut);
  OptionalString(w, "dateAnchor", e.dateAnchor);
  if (withTracker) TrackerMembers(w, e.tracker);
}

// The tracker as a Read or the identification before a download, erase,
// Flash Test or Go! found it; null when neither did.
void IdentityMembers(JsonWriter& w, const Outcome& o) {
  const Identity* id = o.identity ? &*o.identity : nullptr;
  w.Key("model");
  if (id != nullptr) {
    w.String(id->model);
  } else {
    w.Null();
  }
  OptionalInteger(w, "firmwareVersion", id != nullptr ? id->firmwareVersion : std::nullopt);
  OptionalInteger(w, "serialNumber",
                  id != nullptr ? std::optional<int64_t>(id->serialNumber) : std::nullopt);
  w.Key("battery");
  if (id != nullptr && !id->battery.empty()) {
    w.RawNumber(id->battery);
  } else {
    w.Null();
  }
}

// A profile command's file, and whether an apply was only a dry run.
void ProfileCommandMembers(JsonWriter& w, const Outcome& o) {
  const Invocation& inv = o.invocation;
  if (inv.command == Command::kProfileSave) {
    w.Key("profileFile").String(o.profile ? o.profile->file : inv.output);
  } else if (inv.command == Command::kProfileApply) {
    w.Key("profileFile")
        .String(o.profile ? o.profile->file : (inv.operands.empty() ? "" : inv.operands[0]));
    w.Key("dryRun").Bool(inv.dryRun);
  }
}

void ExportCommandMembers(JsonWriter& w, const Outcome& o, bool withTracker = true) {
  w.Key("input").String(o.invocation.operands.empty() ? "" : o.invocation.operands[0]);
  ExportMembers(w, *o.exported, withTracker);
}

void DownloadMembers(JsonWriter& w, const DownloadReport& d) {
  w.Key("file").String(d.file);
  w.Key("fixes");
  if (d.fixes) {
    w.Integer(*d.fixes);
  } else {
    w.Null();
  }
  w.Key("complete").Bool(d.complete);
  w.Key("sha256");
  if (d.sha256) {
    w.String(*d.sha256);
  } else {
    w.Null();
  }
  w.Key("erased").Bool(d.erased);
  w.Key("exports").BeginArray();
  for (const ExportReport& e : d.exports) {
    w.BeginObject();
    ExportMembers(w, e);
    w.EndObject();
  }
  w.EndArray();
  OptionalString(w, "partialFile", d.partialFile.value_or(""));
  w.Key("verified").Bool(d.verified);
  w.Key("bytesRead");
  if (d.bytesRead) {
    w.Integer(*d.bytesRead);
  } else {
    w.Null();
  }
  OptionalString(w, "untilEnd", d.untilEnd.value_or(""));
  w.Key("outputNamed").Bool(d.outputNamed);
}

std::string PortsJson(const std::vector<platform::PortInfo>& ports) {
  JsonWriter w;
  w.BeginArray();
  for (const platform::PortInfo& p : ports) {
    w.BeginObject();
    w.Key("name").String(p.name);
    w.Key("devicePath").String(p.devicePath);
    OptionalString(w, "description", p.description);
    OptionalString(w, "vidPid", p.vidPid);
    w.Key("busy").Bool(p.busy);
    w.EndObject();
  }
  w.EndArray();
  return w.Text() + "\n";
}

const char* ResultWord(const Outcome& o) {
  return o.result != nullptr ? o.result : CauseOf(o.exitCode).result;
}

// The labels that show a value Update can change, as Read writes them. The
// window keeps them as they were read until the next Read.
struct ShownValue {
  const char* label;
  const char* prefix;
  const char* member;
};
constexpr ShownValue kShownValues[] = {
    {"hopChannelLabel", "Hop Chan ", "radioHP"},         {"vendorIdLabel", "Vendor ID ", "radioID"},
    {"addressMaskLabel", "Address Mask: ", "radioMK"},   {"destinationLabel", "Dest: ", "radioDT"},
    {"serialNumberLabel", "Serial #: ", "serialNumber"},
};

const std::string* ValueOf(const std::vector<WindowValue>& window, const std::string& member) {
  for (const WindowValue& v : window) {
    if (v.member == member) return &v.text;
  }
  return nullptr;
}

// True when v is a label that no longer shows the value beside it.
bool Stale(const std::vector<WindowValue>& window, const WindowValue& v) {
  for (const ShownValue& s : kShownValues) {
    if (v.member != s.label) continue;
    const std::string* value = ValueOf(window, s.member);
    return value != nullptr && v.text != s.prefix + *value;
  }
  return false;
}

// What plain output prints of the window: after a failure only the status
// line (the message is on standard error; the rest is what the window held
// before it), after Update no label Update made stale.
std::string WindowLines(const Outcome& o) {
  std::string out;
  for (const WindowValue& v : o.window) {
    if (o.exitCode != kExitOk && (v.member != "statusText" || v.text.empty())) continue;
    if (o.invocation.command == Command::kUpdate && Stale(o.window, v)) continue;
    out += v.member + "=" + Escaped(v.text) + "\n";
  }
  return out;
}

void Head(JsonWriter& w, const Outcome& o) {
  w.Key("command");
  if (o.invocation.commandKnown) {
    w.String(SpecOf(o.invocation.command).name);
  } else {
    w.Null();
  }
  OptionalString(w, "port", o.invocation.port);
}

}  // namespace

std::string Escaped(const std::string& text) {
  // Where a backslash separates folders, a path prints as it is, ready to be
  // pasted back; elsewhere a backslash is the name's own and doubled, so it
  // never reads as an escape. A text that would break its line is escaped
  // whole, so that it reads back.
  const bool breaksLine = text.find_first_of("\r\n\t") != std::string::npos;
  if (!breaksLine &&
      (platform::BackslashSeparatesFolders() || text.find('\\') == std::string::npos)) {
    return text;
  }
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void LiveStderr::Line(const std::string& line) {
  std::lock_guard<std::mutex> lock(lock_);
  if (barShown_) std::fputs("\r\033[K", stream_);
  barShown_ = false;
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
}

std::vector<std::string> MessageLines(const std::string& text) {
  std::string body = text;
  while (!body.empty() && body.back() == '\n') {
    body.pop_back();
    if (!body.empty() && body.back() == '\r') body.pop_back();
  }
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t end = body.find('\n'); end != std::string::npos; end = body.find('\n', from)) {
    const size_t stop = end > from && body[end - 1] == '\r' ? end - 1 : end;
    lines.push_back(body.substr(from, stop - from));
    from = end + 1;
  }
  lines.push_back(body.substr(from));
  return lines;
}

void LiveStderr::Message(const std::string& text) {
  std::string lines;
  for (const std::string& line : MessageLines(text)) lines += "kw9: " + Escaped(line) + "\n";
  Line(lines);
}

void LiveStderr::Note(const std::string& text) {
  Line("kw9cli: " + Escaped(text) + "\n");
}

void LiveStderr::ClearProgress() {
  Line("");
}

void LiveStderr::Progress(const ProgressUpdate& update, int64_t nowMicros) {
  std::lock_guard<std::mutex> lock(lock_);
  if (update.starting) {
    meter_.Start(nowMicros);
    return;
  }
  const std::string line = meter_.Line({nowMicros, update.bytes}, update.totalBytes);
  if (line.empty()) return;
  if (show_ == ProgressShow::kRedraw) {
    // Cleared to its end: a shorter line leaves nothing of the last one.
    std::fprintf(stream_, "\r%s\033[K", line.c_str());
    barShown_ = true;
  } else {
    std::fprintf(stream_, "%s\n", line.c_str());
  }
  std::fflush(stream_);
}

std::string ProfileValueText(const ProfileField& field, const std::string& text) {
  JsonWriter w;
  WriteProfileValue(w, field, text);
  return w.Text();
}

std::string TextReport(const Outcome& o) {
  if (o.exitCode == kExitUsage) return "";
  std::string out;
  switch (o.invocation.command) {
    case Command::kPorts:
      // Always five fields, so that an unknown one keeps its place.
      for (const platform::PortInfo& p : o.ports) {
        out += Escaped(p.name) + "\t" + Escaped(p.devicePath) + "\t" + Escaped(p.description) +
               "\t" + Escaped(p.vidPid) + "\t" + (p.busy ? "busy" : "") + "\n";
      }
      return out;
    case Command::kExport:
      if (o.exported) {
        const ExportReport& e = *o.exported;
        out += "input=" + Escaped(o.invocation.operands[0]) + "\nformat=" + e.format +
               "\nfile=" + Escaped(e.file) + "\nwritten=" + (e.written ? "1" : "0") +
               "\npoints=" + std::to_string(e.points) + "\nuntimed=" + std::to_string(e.untimed) +
               "\nsegments=" + std::to_string(e.segments) +
               "\nleftOut=" + std::to_string(e.leftOut) + "\n";
      }
      return out;
    case Command::kProfileSave:
      return out;
    case Command::kProfileApply:
      if (o.profile) {
        for (const FieldDifference& d : o.profile->differences) {
          out += std::string(d.field->member) + ": profile " +
                 ProfileValueText(*d.field, d.profile) + ", tracker " +
                 ProfileValueText(*d.field, d.tracker) + "\n";
        }
      }
      return out;
    default:
      // The name kw9cli chose comes first, for a script to read.
      if (o.download && o.download->outputNamed) out += "file=" + Escaped(o.download->file) + "\n";
      return out + WindowLines(o);
  }
}

std::string JsonReport(const Outcome& o) {
  // The one command whose answer is an array; a usage error still gets the
  // object every command answers one with.
  if (o.invocation.command == Command::kPorts && o.invocation.commandKnown &&
      o.exitCode != kExitUsage) {
    return PortsJson(o.ports);
  }
  JsonWriter w;
  w.BeginObject();
  Head(w, o);
  w.Key("ok").Bool(o.exitCode == kExitOk);
  w.Key("exitCode").Integer(o.exitCode);
  w.Key("result").String(ResultWord(o));
  w.Key("messages").BeginArray();
  for (const std::string& m : o.messages) w.String(m);
  w.EndArray();
  w.Key("notes").BeginArray();
  for (const std::string& n : o.notes) w.String(n);
  w.EndArray();
  w.Key("window");
  if (o.window.empty()) {
    w.Null();
  } else {
    w.BeginObject();
    for (const WindowValue& v : o.window) {
      w.Key(v.member);
      if (v.numeric) {
        w.RawNumber(v.text);
      } else {
        w.String(v.text);
      }
    }
    w.EndObject();
  }
  if (o.exported) {
    w.Key("export").BeginObject();
    ExportCommandMembers(w, o);
    w.EndObject();
  }
  if (o.download) {
    w.Key("download").BeginObject();
    DownloadMembers(w, *o.download);
    w.EndObject();
  }
  if (o.profile) {
    w.Key("profile").BeginObject();
    w.Key("file").String(o.profile->file);
    if (o.invocation.command == Command::kProfileApply) {
      w.Key("differences");
      Differences(w, o.profile->differences);
      w.Key("remaining");
      if (o.profile->remaining) {
        Differences(w, *o.profile->remaining);
      } else {
        w.Null();
      }
    }
    w.EndObject();
  }
  if (o.invocation.command == Command::kFixKml && o.invocation.operands.size() == 2) {
    w.Key("fixKml").BeginObject();
    w.Key("input").String(o.invocation.operands[0]);
    w.Key("output").String(o.invocation.operands[1]);
    w.EndObject();
  }
  if (o.invocation.commandKnown && o.invocation.command != Command::kPorts) {
    IdentityMembers(w, o);
    ProfileCommandMembers(w, o);
  }
  w.EndObject();
  return w.Text() + "\n";
}

std::string CustodyLine(const Outcome& o, const std::string& utcTime) {
  JsonWriter w;
  w.BeginObject();
  w.Key("time").String(utcTime);
  w.Key("kw9cli").String(KW9_VERSION);
  Head(w, o);
  // One line is one object: an export's tracker is its file's, in the place
  // a download's or a Read's has, and named once.
  if (o.exported) {
    TrackerMembers(w, o.exported->tracker);
    w.Key("battery").Null();
  } else {
    IdentityMembers(w, o);
  }
  w.Key("result").String(ResultWord(o));
  w.Key("exitCode").Integer(o.exitCode);
  if (o.download) DownloadMembers(w, *o.download);
  if (o.exported) ExportCommandMembers(w, o, false);
  if (o.invocation.commandKnown) ProfileCommandMembers(w, o);
  w.EndObject();
  return w.Text() + "\n";
}

}  // namespace cli
