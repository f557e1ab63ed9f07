// kw9cli --help and the help of one command, written from the command table,
// the option, field and format tables, the exit causes and the prose below,
// so that none of it can drift from what the parser accepts.
#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_codes.h"

namespace cli {

namespace {

// The Exports section, which names the download's export options.
const char* ExportsSection() {
  static const std::string text =
      "The tracker stores the UTC time of day of each fix, but no date. export\n"
      "and the download's " +
      FormatList(&TrackFormatSpec::option, ", ", " and ") +
      " date the fixes in\n"
      "log order: a time of day earlier than the fix before starts the next UTC\n"
      "day. A gap of more than 24 hours between two fixes cannot be seen, and a\n"
      "fix whose stored time no clock shows is written without a time. The\n"
      "anchor is --date, the UTC date of the first fix; for a download the\n"
      "moment it ended, the last fix lying at or before it; for export without\n"
      "--date the download time INPUT's stamp holds (see Track file stamp), so\n"
      "that a copy keeps its dates, and for a file without one (an earlier\n"
      "version's) the modification time of INPUT, which the download's end set.\n"
      "Inferred dates are told on standard error, with what they came from.\n"
      "JSON and the custody log name the anchor (dateAnchor), and each file\n"
      "says it too: GPX in metadata's desc, KML 2.2 in the Document's\n"
      "description, GeoJSON in each feature's properties (dateAnchor, dates).\n"
      "They carry the tracker the stamp or the download names: GPX as the\n"
      "name of its metadata and of its track, KML 2.2 as the Document's name,\n"
      "GeoJSON as properties model, firmwareVersion and serialNumber. CSV keeps\n"
      "its columns.\n"
      "A new segment starts where two fixes lie more than 10 minutes apart.\n"
      "export decodes the memory dump INPUT holds (a file of any kw9 version)\n"
      "and checks that it gives the file's coordinate lines. A file that is no\n"
      "KML file or holds no dump exits 2, one whose dump does not give its lines\n"
      "(damaged or edited) exits 7, an output that cannot be written exits 5;\n"
      "in each case nothing is written. A file is written under a temporary name\n"
      "and renamed into place once complete. A download that stopped early\n"
      "exports the fixes that arrived, as its KML file holds them.\n"
      "svg draws the track as a picture for a browser, from the fixes alone\n"
      "(nothing is fetched): the line on axes where a metre east is as long as a\n"
      "metre north, coloured from the first fix to the last and broken where a\n"
      "segment ends, its start and end marked, a scale bar, the times of the\n"
      "first and last fix, the number of fixes, the distance, the duration and\n"
      "an altitude profile over the distance.\n";
  return text.c_str();
}

const std::array<HelpSection, 14> kSections = {{
    {"Ports and files",
     "NAME is a COM name (COM1) or, on Linux, a short name as ports lists it\n"
     "(ttyUSB0 opens /dev/ttyUSB0) or a device path (/dev/pts/3). On Linux COMn\n"
     "is the n-th existing port: real ttyS ports first, then ttyUSB, then ttyACM,\n"
     "each by number.\n"
     "\n"
     "read, write, update and the profile commands press Read first and stop\n"
     "there when the Read does not complete. download, erase, flash-test and go\n"
     "press no Read: the window takes the port through its own save exchange, as\n"
     "when a user types it and presses the button. First they ask which tracker\n"
     "it is, with read-only commands: its model, firmware version, serial\n"
     "number (settings bytes 128 and 129) and battery voltage. Nothing is\n"
     "written, no ID string checked or repaired, no message shown. When the\n"
     "tracker does not tell, these stay null, a note says so, and the operation\n"
     "goes on as ever.\n"
     "\n"
     "Every file kw9cli writes (--output, the download's exports, fix-kml's\n"
     "OUTPUT, --log) must be a file: a terminal or serial device, the --port\n"
     "device, a FIFO or a socket is refused before anything is sent or written\n"
     "(exit 5); /dev/null (NUL on Windows) takes output as a discard. So is,\n"
     "by a command that uses the port, a file in a folder that does not exist.\n"
     "An input (export's and fix-kml's INPUT, a profile) that is no regular\n"
     "file is refused (exit 2), and so is one larger than is read: 64 MB for\n"
     "export (a track Read Flash writes is at most about 1.1 MB), 256 MB for\n"
     "fix-kml, 1 MB for a profile.\n"},
    {"Command line", ""},  // written from the option table
    {"Output",
     "Standard output: after the operation, one member=value line for each value\n"
     "of the window, in the window's exchange order, with values escaped as on\n"
     "standard error so that each stays on its line (profile apply: one line\n"
     "\"FIELD: profile VALUE, tracker VALUE\" per field that differs; profile\n"
     "save: nothing; export: input, format, file, written (1 or 0), points,\n"
     "untimed, segments, leftOut, as under JSON). After a command that failed\n"
     "(exit status not 0) only the status line, statusText=..., when it shows\n"
     "anything: the message is on standard error. After update, a label that\n"
     "shows a value the update changed (vendorIdLabel after --radio-id) is left\n"
     "out: the window shows it as it was read; the next read shows it anew.\n"
     "ports: one line per port, in the order the system lists them (on Linux the\n"
     "order COMn counts them), of five fields separated by tabs: name, device\n"
     "path, description, VID:PID, and \"busy\" when another program has the port\n"
     "open. A field that is not known is empty and keeps its tab, so the fifth\n"
     "field of a free port is empty.\n"
     "Standard error: every message box in order, \"kw9: \" before each line of its\n"
     "text (a line end that ends the text is not shown), with backslash, CR and\n"
     "TAB written as \\\\, \\r and \\t (on Windows a backslash only in a text\n"
     "that holds CR or TAB: a path prints as it is); a field's refusal names the\n"
     "field first (\"kw9: storeInterval: Please enter an integer between 1 and\n"
     "255.\"). kw9cli's own notes start with \"kw9cli: \"; a file that cannot be\n"
     "written is named with the system's reason (\"kw9cli: cannot write\n"
     "t.kml: No such file or directory\").\n"
     "\n"
     "Progress: while download runs and standard error is a terminal, one line\n"
     "there redraws with the share of the memory read, its bytes, the rate and\n"
     "the time left (\"  43% 56.3/131.1 kB 0.65 kB/s 1:55 left\"); an erase\n"
     "shows the time it has taken. When standard error is no terminal (a log),\n"
     "or with --progress=lines, the download writes that line on its own at\n"
     "every tenth of the memory instead. --quiet (-q) shows no progress.\n"},
    {"JSON",
     "--json: standard output gets exactly one JSON object instead; standard\n"
     "error keeps its lines. Its keys are a stable interface:\n"
     "  command    the command (\"read\", \"profile apply\", ...)\n"
     "  port       the --port given, or null\n"
     "  ok         true when the exit status is 0\n"
     "  exitCode   the exit status\n"
     "  result     the exit status's word (see Exit status); any but \"ok\"\n"
     "             comes with at least one message or note saying why\n"
     "  messages   the window's message boxes in order, texts as shown\n"
     "  notes      kw9cli's own notes in order, without \"kw9cli: \"\n"
     "  window     every value of the window under its member name: numbers\n"
     "             for numeric fields and check boxes, strings for the rest\n"
     "             (null after a usage error)\n"
     "  download   (download) file; fixes: the points of the track FILE holds,\n"
     "             null when it cannot be read back or its dump does not give\n"
     "             its lines; complete: true only after \"Done Reading Flash\";\n"
     "             sha256: of the memory dump FILE holds, null without one;\n"
     "             erased: true when --erase-after erased; exports: one\n"
     "             object per export asked for, as under export without input;\n"
     "             partialFile: where what arrived was saved when the download\n"
     "             ended early and FILE existed (FILE is then left as it was,\n"
     "             and fixes and sha256 are of partialFile), else null;\n"
     "             verified: true when it completed with every block read twice\n"
     "             and the reads agreeing; bytesRead: the log-memory bytes read\n"
     "             from address 0 (null when no file was written); untilEnd:\n"
     "             null without --until-end, else what ended the reading:\n"
     "             \"endMarker\", \"erasedMemory\", \"memoryEnd\" (neither was\n"
     "             found: the whole memory was read) or \"notReached\" (the\n"
     "             download ended early); outputNamed: true when --output was\n"
     "             not given and file is the name kw9cli chose\n"
     "  export     (export) input, format, file; written: true once the file\n"
     "             is in place; points: the fixes written; untimed: of those,\n"
     "             the fixes without a time; segments; leftOut: fixes off the\n"
     "             globe and lines of records that hold no place; dateAnchor:\n"
     "             what dated the fixes, \"date\" (--date), \"stamp\" (the\n"
     "             download time in INPUT), \"modified\" (INPUT's modification\n"
     "             time) or \"downloadEnd\" (an export beside a download), null\n"
     "             when nothing was written; model, firmwareVersion,\n"
     "             serialNumber: the tracker INPUT's stamp or the download\n"
     "             names, null when unknown\n"
     "  profile    (profile) file; differences (apply): one object {field,\n"
     "             profile, tracker} per field that differed; remaining\n"
     "             (apply): the same after the apply, read again\n"
     "  fixKml     (fix-kml) input, output\n"
     "  model, firmwareVersion, serialNumber, battery\n"
     "             the tracker as the Read (read, write, update, profile) or the\n"
     "             identification (download, erase, flash-test, go) found it:\n"
     "             battery in volts; null when neither did (and for fix-kml and\n"
     "             export)\n"
     "  profileFile (profile) the profile file\n"
     "  dryRun     (profile apply) true for --dry-run, whose differences\n"
     "             exit 7 although nothing was written\n"
     "The SHA-256 of the memory dump is taken over the log-memory bytes the\n"
     "dump shows, in address order.\n"
     "ports --json prints one JSON array instead, of one object per port:\n"
     "name, devicePath, description (null when not known), vidPid (\"0403:6001\",\n"
     "null when not USB), busy (true when another program has the port open).\n"
     "After a usage error it prints the object every command prints.\n"},
    {"Custody log",
     "--log FILE appends one JSON line per run, never rewriting earlier lines;\n"
     "kw9cli processes logging to one file at once (one per port) never lose\n"
     "or interleave lines. Keys: time (UTC, as 2026-03-01T12:00:05Z), kw9cli\n"
     "(its version), command, port, model, firmwareVersion, serialNumber,\n"
     "battery (volts) as the Read or the identification found them (null when\n"
     "neither did), result, exitCode; for download also file, fixes, complete,\n"
     "sha256, erased, exports, partialFile, verified, bytesRead, untilEnd and\n"
     "outputNamed, as under JSON; for export model, firmwareVersion and\n"
     "serialNumber are those INPUT's stamp names (battery null), and it adds\n"
     "input, format, file, written, points, untimed, segments, leftOut and\n"
     "dateAnchor; for profile save and apply also profileFile, and for apply\n"
     "dryRun.\n"},
    {"Track file stamp",
     "Every KML file a download writes (kw9cli's and the window's Read Flash)\n"
     "ends with one comment line after the memory dump, the download's stamp,\n"
     "such as <!-- kw9 download 2026-12-09T08:01:02Z model KLX-TX3 firmware 20\n"
     "serial 2417 -->: the UTC moment the download ended and the tracker\n"
     "read, each field left out when unknown (kw9cli: the identification;\n"
     "the window: the last completed Read of the same port). download\n"
     "--until-end adds which bytes it read (read 0-10799 of 131072).\n"
     "Everything before the line is as ever; readers of the dump stop at its\n"
     "end. Files without a stamp (earlier versions, other programs) are read\n"
     "as before.\n"
     "\n"
     "download without --output writes track-SERIAL-YYYYMMDDTHHMMSSZ.kml in\n"
     "the current folder (track-YYYYMMDDTHHMMSSZ.kml when the serial number is\n"
     "unknown), named after the tracker and the moment the download started,\n"
     "and prints file=NAME first on standard output.\n"},
    {"Exports", ExportsSection()},
    {"Profiles",
     "A profile is a JSON object: \"kw9-profile\": 1 (the format number);\n"
     "\"settings\": storeInterval, transmitInterval, transmitSlot (numbers),\n"
     "shutdownVoltage (a text such as \"3.30\"), wrapMemory, lowVoltageShutdown,\n"
     "enableDataLogging, metersToFeet, enableNmea, enableTxSentence (true or\n"
     "false); \"radio\": radioHP, radioID, radioMK, radioDT, radioRO, radioRN,\n"
     "radioRR (texts); \"about\": model, firmwareVersion, readAt. A name given\n"
     "twice is refused with its file and line. profile apply (and --dry-run)\n"
     "refuses a profile whose model is not the tracker's, with a note naming\n"
     "both (exit 7), unless --any-model is given; the rest of \"about\" is for\n"
     "information only. A profile never holds identity: no serial number, no\n"
     "radio serial.\n"
     "A field left out is left as the tracker has it. Shutdown voltages count as\n"
     "equal when the tracker stores the same count for them.\n"
     "profile apply presses Update only when a radio value differs; its serial\n"
     "number field then holds the number just read, so the identity is written\n"
     "back unchanged. A malformed profile is refused before the port is opened;\n"
     "a value the window refuses shows the window's message, and nothing is\n"
     "written. --dry-run exits 0 when nothing differs, 7 otherwise. A shutdown\n"
     "voltage that is no number or lies outside 0.00 to 6.59 is refused, as\n"
     "write and the window refuse it, dry run or not (exit 1).\n"},
    {"Interrupts",
     "Ctrl-C or SIGTERM: a download stops at its next block and saves the fixes\n"
     "that arrived, as when the line is lost (beside FILE as NAME.partial.kml\n"
     "when FILE exists, which is left as it was); an erase goes on in the\n"
     "tracker by itself; a Read, Write or Update in progress finishes first.\n"
     "kw9cli then says \"Interrupted\" and exits with 130; export and fix-kml\n"
     "stop reading and write nothing. A second Ctrl-C ends it at once. Neither\n"
     "leaves a temporary file behind.\n"},
    {"Erase after download",
     "download --erase-after erases only when the download completed, FILE was\n"
     "renamed into place, FILE, read back from the disk, holds a memory dump of\n"
     "exactly the bytes downloaded that gives its coordinate lines, and every\n"
     "export asked for was written. Otherwise it says why and does not erase;\n"
     "the exit status is the download's, 5 when an export was not written, or\n"
     "7 when the download completed but FILE does not hold it.\n"
     "A block of a 64- or 128-kbit memory has no line end to check, so with\n"
     "--erase-after such a memory is always read twice, as --verify reads any:\n"
     "every block is read again and compared, a block whose two reads differ is\n"
     "read up to 3 more times until two reads agree, and otherwise the download\n"
     "ends there as one that failed. The second pass costs its line time:\n"
     "about 26 s for a 64- or 128-kbit memory, about 3 min 16 s for 1024 kbit.\n"
     "A reply with bytes behind it is a failed block and is asked for again,\n"
     "with or without --verify.\n"
     "With --until-end, --erase-after erases only when the reading ended at an\n"
     "end marker or read the whole memory, never after erased memory (exit 7).\n"},
    {"Reading until the log's end",
     "A download reads the whole memory by default: about 3 min 16 s for\n"
     "1024 kbit, however little of it the log fills. download --until-end reads\n"
     "from address 0 and stops after the block that holds the first end marker\n"
     "at a record boundary (where the track ends for every reader of the file),\n"
     "or after the first 256 bytes of 0xFF from a record boundary on (memory not\n"
     "written since an erase), whichever comes first; a log without either is\n"
     "read to the end of the memory. The track is the one a full download\n"
     "gives, with one exception the second rule can miss: records written after\n"
     "a gap of erased memory. A full download (without --until-end) reads them.\n"
     "The file's memory dump holds the bytes read, and the stamp line after it\n"
     "says which: <!-- kw9 download 2026-12-09T08:01:02Z ... read 0-10799 of\n"
     "131072 -->. export reads such a file as any other. A note on standard\n"
     "error says where the log ended.\n"},
    {"Environment",
     "kw9cli reads no environment variable: its times are UTC whatever TZ says,\n"
     "its output is the same in every locale, and it needs no display.\n"},
    {"Files",
     "kw9cli keeps no settings: it neither reads nor writes the file where kw9\n"
     "keeps the port and folders it last used.\n"
     "  --log FILE         the custody log, one JSON line appended per run (see\n"
     "                     Custody log)\n"
     "  NAME.partial.kml   what arrived of a download that ended early, beside an\n"
     "                     existing --output FILE, which is left as it was\n"
     "  /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*\n"
     "                     on Linux, the serial ports COMn counts, in this order\n"},
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

// Lines stay under 80 columns, as a manual page written from them needs.
constexpr size_t kHelpWidth = 79;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A synopsis's words, an option kept with its value ("--port NAME",
// "[--gpx FILE]") so that a line never breaks between them.
std::vector<std::string> SynopsisUnits(const std::string& synopsis) {
  std::vector<std::string> units;
  bool open = false;  // inside [ ]
  for (const std::string& word : Words(synopsis)) {
    const bool joins =
        !units.empty() &&
        (open || (units.back().rfind("--", 0) == 0 && word[0] != '-' && word[0] != '['));
    if (joins) {
      units.back() += " " + word;
    } else {
      units.push_back(word);
    }
    if (word.front() == '[') open = true;
    if (word.back() == ']') open = false;
  }
  return units;
}

// Words appended to line, wrapped at kHelpWidth, the first right where the
// line ends; later lines start with indent blanks.
void Wrapped(std::string& out, std::string& line, const std::vector<std::string>& words,
             size_t indent) {
  bool empty = true;
  for (const std::string& word : words) {
    if (!empty && line.size() + 1 + word.size() > kHelpWidth) {
      out += line + "\n";
      line.assign(indent, ' ');
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
}

// Text beside a left column, word-wrapped, its later lines indented to the
// column. A left part too wide for the column gets a line of its own (or
// more, indented further).
void Columns(std::string& out, const std::string& left, const std::string& text,
             size_t column = kHelpColumn) {
  std::string line = "  ";
  if (!left.empty() && left.size() + 3 > column) {
    Wrapped(out, line, SynopsisUnits(left), 6);
    out += line + "\n";
    line.clear();
  } else {
    line += left;
  }
  line.resize(column, ' ');
  Wrapped(out, line, Words(text), column);
  out += line + "\n";
}

// A section keeps its own line breaks while its lines fit; one that a longer
// list of formats pushed past the width is wrapped again as one paragraph.
std::string Fitted(const char* text) {
  std::istringstream in(text);
  bool fits = true;
  for (std::string line; std::getline(in, line);) fits = fits && line.size() <= kHelpWidth;
  if (fits) return text;
  std::string out;
  std::string line;
  Wrapped(out, line, Words(text), 0);
  return out + line + "\n";
}

// The option's left column: "-p, --port NAME", "--log FILE".
std::string OptionColumn(const OptionSpec& o) {
  std::string left = o.shortName != nullptr ? std::string(o.shortName) + ", " : "";
  return left + o.name + (o.value != nullptr ? std::string(" ") + o.value : "");
}

std::string CommandLineSection() {
  std::string shortForms;
  for (const OptionSpec& o : Options()) {
    if (o.shortName != nullptr) shortForms += std::string(o.shortName) + " for " + o.name + ", ";
  }
  return "An option's value is the word after it or follows an \"=\": --port ttyUSB0 and "
         "--port=ttyUSB0 are the same. Short forms: " +
         shortForms +
         "-h for --help and -V for --version; a short option's value is the word after it. "
         "Options may stand before or after the command word and its operands. \"--\" ends the "
         "options: every word after it is the command word or an operand, even one that starts "
         "with \"-\". kw9cli help COMMAND, or kw9cli COMMAND --help, prints that command's "
         "usage, options and examples. A command or option that is not known is a usage error "
         "(exit 2), told with the names closest to it.\n";
}

// The field options' rows, under the line that says what they take.
void FieldRows(std::string& out) {
  for (const bool calibration : {false, true}) {
    if (calibration) out += "  shown in calibration mode only (update, or write --calibration):\n";
    for (const FieldSpec& f : Fields()) {
      if (f.calibrationOnly != calibration) continue;
      Columns(out, std::string(f.option) + " " + f.value, f.member, 30);
    }
  }
}

// A command's examples, indented, one a line.
void ExampleRows(std::string& out, const CommandSpec& c) {
  std::istringstream in(c.examples);
  for (std::string line; std::getline(in, line);) out += "  " + line + "\n";
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
      "       kw9cli COMMAND --help\n"
      "       kw9cli help [COMMAND]\n"
      "       kw9cli --help | --version\n"
      "Runs kw9's main window without a screen: types the given values into its\n"
      "fields as a user would, presses the command's button, and reports.\n"
      "\nCommands:\n";
  for (const CommandSpec& c : Commands()) Columns(out, Synopsis(c), c.help);
  out += "\nOptions of the commands above:\n";
  for (const OptionSpec& o : Options()) {
    if ((o.bit & kGlobalOptions) != 0 || o.bit == kOptFields) continue;
    Columns(out, OptionColumn(o), o.help);
  }
  out += "\nOptions every command takes:\n";
  for (const OptionSpec& o : Options()) {
    if ((o.bit & kGlobalOptions) == 0) continue;
    Columns(out, OptionColumn(o), o.help);
  }
  out +=
      "\nFields of write and update:\n"
      "The text to type (check boxes take 0 or 1), beside the window's member each\n"
      "types into:\n";
  FieldRows(out);
  const std::string commandLine = CommandLineSection();
  for (const HelpSection& s : kSections) {
    out += "\n";
    if (*s.heading != '\0') out += std::string(s.heading) + ":\n";
    out += Fitted(std::string(s.heading) == "Command line" ? commandLine.c_str() : s.text);
  }
  std::vector<ExitCause> causes(ExitCauses().begin(), ExitCauses().end());
  std::stable_sort(causes.begin(), causes.end(),
                   [](const ExitCause& a, const ExitCause& b) { return a.code < b.code; });
  for (const ExitCause& c : causes) {
    std::string code = std::to_string(static_cast<int>(c.code));
    code.resize(5, ' ');
    Columns(out, code + c.result, c.help, 20);
  }
  std::string notices = "The notices that leave the status at 0:";
  for (const char* notice : NoticeTexts()) notices += " \"" + Visible(notice) + "\"";
  std::string line;
  Wrapped(out += "\n", line, Words(notices + ". The status is the same with and without --json."),
          0);
  out += line + "\n";
  out += "\nExamples:\n";
  for (const CommandSpec& c : Commands()) ExampleRows(out, c);
  return out;
}

std::string CommandHelpText(const std::string& topic) {
  std::string out;
  for (const CommandSpec& c : Commands()) {
    const std::string name = c.name;
    if (name != topic && name.rfind(topic + " ", 0) != 0) continue;
    if (!out.empty()) out += "\n";
    std::string line = "usage: kw9cli ";
    Wrapped(out, line, SynopsisUnits(Synopsis(c)), 8);
    out += line + "\n";
    line.clear();
    Wrapped(out, line, Words(c.help), 0);
    out += line + "\n\nOptions:\n";
    // The command's own, then those every command takes, as --help orders them.
    for (const bool global : {false, true}) {
      for (const OptionSpec& o : Options()) {
        const bool takes = ((global ? kGlobalOptions : c.takes) & o.bit) != 0;
        if (!takes || o.bit == kOptFields || (!global && (o.bit & kGlobalOptions) != 0)) continue;
        Columns(out, OptionColumn(o), o.help);
      }
    }
    if ((c.takes & kOptFields) != 0) {
      out += "\nFields (the text to type; check boxes take 0 or 1):\n";
      FieldRows(out);
    }
    out += "\nExamples:\n";
    ExampleRows(out, c);
  }
  return out + "\nkw9cli --help tells the rest: output, JSON keys, exit status.\n";
}

std::string UsageErrorText(const std::string& problem, const std::vector<std::string>& suggestions,
                           const Invocation& invocation) {
  std::string text = "kw9cli: " + problem + "\n";
  if (!suggestions.empty()) {
    text += "kw9cli: did you mean";
    for (size_t i = 0; i < suggestions.size(); ++i) {
      text += (i == 0 ? " " : i + 1 == suggestions.size() ? " or " : ", ") + suggestions[i];
    }
    text += "?\n";
  }
  if (invocation.commandKnown) {
    return text + "(kw9cli help " + SpecOf(invocation.command).name + " shows its options)\n";
  }
  return text + "(kw9cli --help shows the options)\n";
}

}  // namespace cli
