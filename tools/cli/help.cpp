// kw9cli --help, written from the command table, the option and field
// tables, the exit causes and the prose below, so that none of it can drift
// from what the parser accepts.
#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "tools/cli/command_line.h"
#include "tools/cli/exit_codes.h"

namespace cli {

namespace {

constexpr std::array<HelpSection, 8> kSections = {{
    {"",
     "NAME is a COM name (COM1) or, on Linux, a device path (/dev/ttyUSB0,\n"
     "/dev/pts/3). On Linux COMn is the n-th existing port: real ttyS ports first,\n"
     "then ttyUSB, then ttyACM, each by number.\n"
     "\n"
     "read, write, update and the profile commands press Read first and stop\n"
     "there when the Read does not complete. download, erase, flash-test and go\n"
     "press no Read: the window takes the port through its own save exchange, as\n"
     "when a user types it and presses the button.\n"},
    {"Output",
     "Standard output: after the operation, one member=value line for each value\n"
     "of the window, in the window's exchange order, with values escaped as on\n"
     "standard error so that each stays on its line (ports: one name per line;\n"
     "profile apply: one line \"FIELD: profile VALUE, tracker VALUE\" per field\n"
     "that differs; profile save: nothing).\n"
     "Standard error: every message box in order, one line each, \"kw9: \" and its\n"
     "text with backslash, CR, LF and TAB written as \\\\, \\r, \\n and \\t; kw9cli's\n"
     "own notes start with \"kw9cli: \".\n"
     "\n"
     "While download or erase runs and standard error is a terminal, a progress\n"
     "bar there follows the window's.\n"},
    {"JSON",
     "--json: standard output gets exactly one JSON object instead; standard\n"
     "error keeps its lines. Its keys are a stable interface:\n"
     "  command    the command (\"read\", \"profile apply\", ...)\n"
     "  port       the --port given, or null\n"
     "  ok         true when the exit status is 0\n"
     "  exitCode   the exit status\n"
     "  result     the exit status's word (see Exit status)\n"
     "  messages   the window's message boxes in order, texts as shown\n"
     "  notes      kw9cli's own notes in order, without \"kw9cli: \"\n"
     "  window     every value of the window under its member name: numbers\n"
     "             for numeric fields and check boxes, strings for the rest\n"
     "             (null after a usage error)\n"
     "  ports      (ports) the port names\n"
     "  download   (download) file; fixes: the points of the track FILE holds,\n"
     "             null when it cannot be read back; complete: true only after\n"
     "             \"Done Reading Flash\"; sha256: of the memory dump FILE holds,\n"
     "             null without one; erased: true when --erase-after erased\n"
     "  profile    (profile) file; differences (apply): one object {field,\n"
     "             profile, tracker} per field that differed; remaining\n"
     "             (apply): the same after the apply, read again\n"
     "  fixKml     (fix-kml) input, output\n"
     "The SHA-256 of the memory dump is taken over the log-memory bytes the\n"
     "dump shows, in address order.\n"},
    {"Custody log",
     "--log FILE appends one JSON line per run, never rewriting earlier lines;\n"
     "kw9cli processes logging to one file at once (one per port) never lose\n"
     "or interleave lines. Keys: time (UTC, as 2026-03-01T12:00:05Z), kw9cli\n"
     "(its version), command, port, model, firmwareVersion, serialNumber,\n"
     "battery (volts) as the Read found them (null without a completed Read),\n"
     "result, exitCode; for download also file, fixes, complete, sha256 and\n"
     "erased, as under JSON.\n"},
    {"Profiles",
     "A profile is a JSON object: \"kw9-profile\": 1 (the format number);\n"
     "\"settings\": storeInterval, transmitInterval, transmitSlot (numbers),\n"
     "shutdownVoltage (a text such as \"3.30\"), wrapMemory, lowVoltageShutdown,\n"
     "enableDataLogging, metersToFeet, enableNmea, enableTxSentence (true or\n"
     "false); \"radio\": radioHP, radioID, radioMK, radioDT, radioRO, radioRN,\n"
     "radioRR (texts); \"about\": model, firmwareVersion, readAt (for information\n"
     "only). A profile never holds identity: no serial number, no radio serial.\n"
     "A field left out is left as the tracker has it. Shutdown voltages count as\n"
     "equal when the tracker stores the same count for them.\n"
     "profile apply presses Update only when a radio value differs; its serial\n"
     "number field then holds the number just read, so the identity is written\n"
     "back unchanged. A malformed profile is refused before the port is opened;\n"
     "a value the window refuses shows the window's message, and nothing is\n"
     "written. --dry-run exits 0 when nothing differs, 7 otherwise.\n"},
    {"Interrupts",
     "Ctrl-C or SIGTERM: a download stops at its next block and saves the fixes\n"
     "that arrived, as when the line is lost; an erase goes on in the tracker by\n"
     "itself; a Read, Write or Update in progress finishes first. kw9cli then\n"
     "says \"Interrupted\" and exits with 130. A second Ctrl-C ends it at once.\n"},
    {"Erase after download",
     "download --erase-after erases only when the download completed, FILE was\n"
     "renamed into place, and FILE, read back from the disk, holds a memory dump\n"
     "of exactly the bytes downloaded. Otherwise it says why and does not erase;\n"
     "the exit status is the download's, or 7 when the download completed but\n"
     "FILE does not hold it.\n"},
    {"Exit status", ""},  // written from the exit causes
}};

constexpr size_t kHelpColumn = 39;

std::string Synopsis(const CommandSpec& c) {
  std::string s = c.name;
  for (const OptionSpec& o : Options()) {
    if ((c.needs & o.bit) != 0) s += std::string(" ") + o.name + " " + o.value;
  }
  if (*c.operands != '\0') s += std::string(" ") + c.operands;
  for (const OptionSpec& o : Options()) {
    if ((c.takes & o.bit) == 0 || (c.needs & o.bit) != 0) continue;
    if (o.bit == kOptFields) {
      s += " [fields]";
    } else {
      s +=
          std::string(" [") + o.name + (o.value != nullptr ? std::string(" ") + o.value : "") + "]";
    }
  }
  return s;
}

constexpr size_t kHelpWidth = 80;

// Text beside a left column, word-wrapped, its later lines indented to the
// column. A left part too wide for the column gets a line of its own.
void Columns(std::string& out, const std::string& left, const std::string& text,
             size_t column = kHelpColumn) {
  std::string line = "  " + left;
  if (!left.empty() && line.size() + 1 > column) {
    out += line + "\n";
    line.clear();
  }
  line.resize(column, ' ');
  std::istringstream words(text);
  bool empty = true;
  for (std::string word; words >> word;) {
    if (!empty && line.size() + 1 + word.size() > kHelpWidth) {
      out += line + "\n";
      line.assign(column, ' ');
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
  out += line + "\n";
}

std::string Visible(const char* text) {
  std::string s = text;
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

}  // namespace

std::span<const HelpSection> HelpSections() {
  return kSections;
}

std::string HelpText() {
  std::string out =
      "usage: kw9cli COMMAND [options]\n"
      "       kw9cli --help | --version\n"
      "Runs kw9's main window without a screen: types the given values into its\n"
      "fields as a user would, presses the command's button, and reports.\n"
      "\nCommands:\n";
  for (const CommandSpec& c : Commands()) Columns(out, Synopsis(c), c.help);
  out += "\nOptions every command takes:\n";
  for (const OptionSpec& o : Options()) {
    if ((o.bit & kGlobalOptions) == 0) continue;
    Columns(out, std::string(o.name) + (o.value != nullptr ? std::string(" ") + o.value : ""),
            o.help);
  }
  out +=
      "\nFields of write and update (the text to type; check boxes take 0 or 1),\n"
      "beside the window's member each types into:\n";
  for (const bool calibration : {false, true}) {
    if (calibration) out += "  shown in calibration mode only (update, or write --calibration):\n";
    for (const FieldSpec& f : Fields()) {
      if (f.calibrationOnly != calibration) continue;
      Columns(out, std::string(f.option) + " " + f.value, f.member, 30);
    }
  }
  for (const HelpSection& s : kSections) {
    out += "\n";
    if (*s.heading != '\0') out += std::string(s.heading) + ":\n";
    out += s.text;
  }
  std::vector<ExitCause> causes(ExitCauses().begin(), ExitCauses().end());
  std::sort(causes.begin(), causes.end(),
            [](const ExitCause& a, const ExitCause& b) { return a.code < b.code; });
  for (const ExitCause& c : causes) {
    std::string code = std::to_string(static_cast<int>(c.code));
    code.resize(5, ' ');
    Columns(out, code + c.result, c.help, 20);
  }
  std::string notices = "The notices that leave the status at 0:";
  for (const char* notice : NoticeTexts()) notices += " \"" + Visible(notice) + "\"";
  Columns(out, "", notices + ". The status is the same with and without --json.", 2);
  return out;
}

}  // namespace cli
