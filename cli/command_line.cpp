#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include "app/control_ids.h"
#include "cli/exit_codes.h"

namespace cli {

namespace {

constexpr uint32_t kLogCommandOptions = kOptPort | kOptCalibration;

// The download's and the export's help, and --to's value, name every format.
const char* DownloadHelp() {
  static const std::string help =
      "press Read Flash and save the log as FILE (replaced only once complete; what arrived of "
      "a download that ended early goes beside an existing FILE as NAME.partial.kml; without "
      "--output, track-SERIAL-YYYYMMDDTHHMMSSZ.kml in the current folder, printed as "
      "file=NAME); " +
      FormatList(&TrackFormatSpec::option, ", ", " and ") +
      " also write the fixes that arrived in that format, dated back from the moment the download "
      "ended; --erase-after then presses Clear Flash, answering CLEAR, but only when FILE, read "
      "back, holds the bytes downloaded and every export was written; --verify reads the memory "
      "twice (see Erase after download)";
  return help.c_str();
}

const char* ExportHelp() {
  static const std::string help =
      "write the track of INPUT, a KML file Read Flash wrote, in another format, as FILE "
      "(default: INPUT's name with " +
      FormatList(&TrackFormatSpec::extension, ", ", " or ") +
      "); its memory dump must give its coordinate lines, and nothing is written otherwise (see "
      "Exports)";
  return help.c_str();
}

const char* FormatChoice() {
  static const std::string names = FormatList(&TrackFormatSpec::name, "|", "|");
  return names.c_str();
}

const std::array<CommandSpec, 12> kCommands = {{
    {Command::kPorts, "ports", "", 0, 0, 0, "list the serial ports that exist",
     "kw9cli ports\nkw9cli ports --json"},
    {Command::kRead, "read", "", 0, kOptPort | kOptCalibration, kOptPort, "press Read",
     "kw9cli read -p ttyUSB0\nkw9cli read --port=COM3 --calibration --json"},
    {Command::kWrite, "write", "", 0, kOptPort | kOptCalibration | kOptFields, kOptPort,
     "press Read, set the fields, press Write",
     "kw9cli write -p ttyUSB0 --store-interval 30 --enable-nmea 1\n"
     "kw9cli write --port=COM3 --transmit-interval=60 --wrap-memory=0"},
    {Command::kUpdate, "update", "", 0, kOptPort | kOptCalibration | kOptFields, kOptPort,
     "in calibration mode: press Read, set the fields, press Update",
     "kw9cli update -p ttyUSB0 --serial-number 2418 --radio-hp 5"},
    {Command::kDownload, "download", "", 0,
     kLogCommandOptions | kOptOutput | kOptEraseAfter | kOptVerify | kOptUntilEnd | kExportOptions,
     kOptPort, DownloadHelp(),
     "kw9cli download -p ttyUSB0 -o track.kml\n"
     "kw9cli download -p ttyUSB0\n"
     "kw9cli download -p COM3 -o track.kml --gpx track.gpx --erase-after\n"
     "kw9cli download --port=COM3 --output=track.kml --verify --log=runs.log"},
    {Command::kErase, "erase", "", 0, kLogCommandOptions | kOptYes, kOptPort,
     "press Clear Flash; only --yes answers CLEAR, else Cancel is pressed",
     "kw9cli erase -p ttyUSB0 -y"},
    {Command::kFlashTest, "flash-test", "", 0, kLogCommandOptions, kOptPort,
     "press Flash Test (it writes a pattern to log memory bytes 0 to 15 and then puts back what "
     "they held; \"Error restoring flash\" when they do not read back)",
     "kw9cli flash-test -p ttyUSB0"},
    {Command::kGo, "go", "", 0, kLogCommandOptions, kOptPort, "press Go!", "kw9cli go -p ttyUSB0"},
    {Command::kFixKml, "fix-kml", "INPUT OUTPUT", 2, kOptCalibration, 0,
     "press Fix KML and choose the two files (the same name repairs it in place)",
     "kw9cli fix-kml broken.kml fixed.kml\nkw9cli fix-kml track.kml track.kml"},
    {Command::kExport, "export", "INPUT", 1, kOptTo | kOptOutput | kOptDate, kOptTo, ExportHelp(),
     "kw9cli export track.kml --to gpx\n"
     "kw9cli export track.kml --to=svg -o track.svg --date 2026-03-01"},
    {Command::kProfileSave, "profile save", "", 0, kOptPort | kOptOutput, kOptPort | kOptOutput,
     "press Read and save the settings and radio parameters as a profile in FILE",
     "kw9cli profile save -p ttyUSB0 -o fleet.json"},
    {Command::kProfileApply, "profile apply", "FILE", 1, kOptPort | kOptDryRun | kOptAnyModel,
     kOptPort,
     "in calibration mode: press Read, print each field that differs from the profile FILE, set "
     "those and press Write (and Update for radio values), then press Read again and compare; "
     "--dry-run stops after the list",
     "kw9cli profile apply -p ttyUSB0 fleet.json --dry-run\n"
     "kw9cli profile apply -p ttyUSB0 fleet.json --json"},
}};

// Before the download's exports, which OptionTable adds from the format table.
const std::array<OptionSpec, 16> kOptions = {{
    {kOptPort, "--port", "NAME", "the tracker's serial port", "-p"},
    {kOptOutput, "--output", "FILE", "the file to write", "-o"},
    {kOptCalibration, "--calibration", nullptr, "run the window in calibration mode", nullptr},
    {kOptYes, "--yes", nullptr, "answer the erase confirmation with CLEAR", "-y"},
    {kOptEraseAfter, "--erase-after", nullptr,
     "erase once the download is safe on disk (a 64- or 128-kbit memory is read twice first, "
     "which costs about 26 s more)",
     nullptr},
    {kOptVerify, "--verify", nullptr,
     "read the memory twice, and each block whose reads differ again until two agree", nullptr},
    {kOptUntilEnd, "--until-end", nullptr,
     "read the memory only up to the end of the log, not all of it (see Reading until the "
     "log's end)",
     nullptr},
    {kOptDryRun, "--dry-run", nullptr, "list the differences, change nothing", nullptr},
    {kOptFields, "", nullptr, "", nullptr},  // the fields have a table of their own
    {kOptJson, "--json", nullptr, "one JSON object on standard output", "-j"},
    {kOptLog, "--log", "FILE", "append one custody line to FILE", nullptr},
    {kOptQuiet, "--quiet", nullptr, "show no progress", "-q"},
    {kOptProgress, "--progress", "lines",
     "show progress as a line at every tenth, also on a terminal", nullptr},
    {kOptTo, "--to", FormatChoice(), "the format to write", nullptr},
    {kOptDate, "--date", "YYYY-MM-DD", "the UTC date of the first fix", nullptr},
    {kOptAnyModel, "--any-model", nullptr, "apply a profile saved from another model too", nullptr},
}};

// The download's option of TrackFormats()[index]; none past the bits there are.
OptionBit ExportOptionBit(size_t index) {
  return static_cast<OptionBit>(index < 32 - kFirstExportBit ? 1u << (kFirstExportBit + index)
                                                             : 0u);
}

const std::vector<OptionSpec>& OptionTable() {
  static const std::vector<std::string> exportHelp = [] {
    std::vector<std::string> help;
    for (const TrackFormatSpec& f : TrackFormats()) {
      help.push_back(std::string("also write the track as ") + f.title);
    }
    return help;
  }();
  static const std::vector<OptionSpec> table = [] {
    std::vector<OptionSpec> rows(kOptions.begin(), kOptions.end());
    for (size_t i = 0; i < TrackFormats().size(); ++i) {
      rows.push_back(
          {ExportOptionBit(i), TrackFormats()[i].option, "FILE", exportHelp[i].c_str(), nullptr});
    }
    return rows;
  }();
  return table;
}

const std::vector<const char*>& FormatNames() {
  static const std::vector<const char*> names = [] {
    std::vector<const char*> list;
    for (const TrackFormatSpec& f : TrackFormats()) list.push_back(f.name);
    return list;
  }();
  return names;
}

constexpr std::array<FieldSpec, 18> kFields = {{
    {"--store-interval", "N", "storeInterval", IDC_STORE_INTERVAL, false, false},
    {"--transmit-interval", "N", "transmitInterval", IDC_TRANSMIT_INTERVAL, false, false},
    {"--transmit-slot", "N", "transmitSlot", IDC_TRANSMIT_SLOT, false, false},
    {"--shutdown-voltage", "VOLTS", "shutdownVoltage", IDC_SHUTDOWN_VOLTAGE, false, false},
    {"--wrap-memory", "0|1", "wrapMemory", IDC_WRAP_MEMORY, true, false},
    {"--low-voltage-shutdown", "0|1", "lowVoltageShutdown", IDC_LOW_VOLTAGE_SHUTDOWN, true, false},
    {"--enable-data-logging", "0|1", "enableDataLogging", IDC_ENABLE_DATA_LOGGING, true, false},
    {"--meters-to-feet", "0|1", "metersToFeet", IDC_METERS_TO_FEET, true, false},
    {"--enable-nmea", "0|1", "enableNmea", IDC_ENABLE_NMEA, true, false},
    {"--enable-tx-sentence", "0|1", "enableTxSentence", IDC_ENABLE_TX_SENTENCE, true, false},
    {"--serial-number", "N", "serialNumber", IDC_SERIAL_NUMBER, false, true},
    {"--radio-hp", "TEXT", "radioHP", IDC_RADIO_HP, false, true},
    {"--radio-id", "TEXT", "radioID", IDC_RADIO_ID, false, true},
    {"--radio-mk", "TEXT", "radioMK", IDC_RADIO_MK, false, true},
    {"--radio-dt", "TEXT", "radioDT", IDC_RADIO_DT, false, true},
    {"--radio-ro", "TEXT", "radioRO", IDC_RADIO_RO, false, true},
    {"--radio-rn", "TEXT", "radioRN", IDC_RADIO_RN, false, true},
    {"--radio-rr", "TEXT", "radioRR", IDC_RADIO_RR, false, true},
}};

const OptionSpec* FindOption(const std::string& name) {
  for (const OptionSpec& o : OptionTable()) {
    if (*o.name != '\0' && name == o.name) return &o;
  }
  return nullptr;
}

const FieldSpec* FindField(const std::string& option) {
  for (const FieldSpec& f : kFields) {
    if (option == f.option) return &f;
  }
  return nullptr;
}

// Switches the table has no row for: they end the parse wherever they stand.
constexpr const char* kHelpShort = "-h";
constexpr const char* kVersionShort = "-V";

// The long name of a short option ("-p" is "--port"), or nullptr. Any other
// word that starts with one "-" stays an operand, as it always was.
const char* LongNameOf(const std::string& arg) {
  for (const OptionSpec& o : kOptions) {
    if (o.shortName != nullptr && arg == o.shortName) return o.name;
  }
  return nullptr;
}

bool IsOptionWord(const std::string& arg) {
  return arg.rfind("--", 0) == 0 || LongNameOf(arg) != nullptr;
}

// An option word as its long name and the value "=" attached to it, if any.
struct OptionWord {
  std::string name;
  bool attached = false;
  std::string value;
};

OptionWord SplitOption(const std::string& arg) {
  if (const char* name = LongNameOf(arg)) return {name, false, ""};
  const size_t eq = arg.find('=');
  if (eq == std::string::npos) return {arg, false, ""};
  return {arg.substr(0, eq), true, arg.substr(eq + 1)};
}

bool TakesValue(const std::string& name) {
  const OptionSpec* option = FindOption(name);
  return option != nullptr ? option->value != nullptr : FindField(name) != nullptr;
}

// Where the command word stands: the first word that is no option nor an
// option's value; args.size() when there is none.
size_t CommandWordIndex(const std::vector<std::string>& args) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!optionsEnded && args[i] == "--") {
      optionsEnded = true;
    } else if (optionsEnded || !IsOptionWord(args[i])) {
      return i;
    } else {
      const OptionWord word = SplitOption(args[i]);
      if (!word.attached && TakesValue(word.name)) ++i;
    }
  }
  return args.size();
}

// Edits from a to b: insertions, deletions, substitutions and swaps of two
// neighbours ("raed" is one from "read").
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The candidates closest to typed: at most two edits away, and no more than
// half the candidate's length, so that a short word does not match them all;
// a start of three letters or more counts as one edit ("--out").
std::vector<std::string> Closest(const std::string& typed, const std::vector<std::string>& names) {
  const auto core = [](const std::string& s) { return s.substr(s.find_first_not_of('-')); };
  constexpr size_t kNone = 3;
  size_t best = kNone;
  std::vector<std::string> closest;
  if (typed.find_first_not_of('-') == std::string::npos) return closest;
  const std::string word = core(typed);
  for (const std::string& name : names) {
    const std::string candidate = core(name);
    if (candidate == word) continue;
    size_t distance = EditDistance(word, candidate);
    if (distance * 2 > candidate.size()) distance = kNone;
    if (word.size() >= 3 && candidate.rfind(word, 0) == 0) distance = std::min<size_t>(distance, 1);
    if (distance > best) continue;
    if (distance < best) closest.clear();
    best = distance;
    closest.push_back(name);
  }
  if (best == kNone || closest.size() > 3) closest.clear();
  return closest;
}

std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  for (const CommandSpec& c : kCommands) names.push_back(c.name);
  names.push_back("help");
  return names;
}

std::vector<std::string> OptionNames() {
  std::vector<std::string> names = {"--help", "--version"};
  for (const OptionSpec& o : OptionTable()) {
    if (*o.name != '\0') names.push_back(o.name);
  }
  for (const FieldSpec& f : kFields) names.push_back(f.option);
  return names;
}

ParsedCommandLine Usage(ParsedCommandLine& parsed, const std::string& problem,
                        std::vector<std::string> suggestions = {}) {
  parsed.action = ParsedCommandLine::Action::kUsageError;
  parsed.problem = problem;
  parsed.suggestions = std::move(suggestions);
  return parsed;
}

// A command name from args[i] on: "profile" takes the word after it too.
std::string CommandNameAt(const std::vector<std::string>& args, size_t& i) {
  std::string name = args[i];
  if (name == "profile" && i + 1 < args.size() && !IsOptionWord(args[i + 1])) {
    name += " " + args[++i];
  }
  return name;
}

// True when some command is called topic or starts with it ("profile").
bool IsHelpTopic(const std::string& topic) {
  for (const CommandSpec& c : kCommands) {
    const std::string name = c.name;
    if (name == topic || name.rfind(topic + " ", 0) == 0) return true;
  }
  return false;
}

// --help with the command it names, or help COMMAND.
ParsedCommandLine Help(ParsedCommandLine& parsed, const std::vector<std::string>& args) {
  size_t at = CommandWordIndex(args);
  const bool helpWord = at < args.size() && args[at] == "help";
  if (helpWord) ++at;
  parsed.action = ParsedCommandLine::Action::kHelp;
  if (at >= args.size() || IsOptionWord(args[at])) return parsed;
  const std::string topic = CommandNameAt(args, at);
  if (topic == "help") return parsed;  // help help: the whole of it
  if (IsHelpTopic(topic)) {
    parsed.helpTopic = topic;
  } else if (helpWord) {
    return Usage(parsed, "unknown command " + topic, Closest(topic, CommandNames()));
  }
  return parsed;
}

}  // namespace

std::span<const char* const> TrackFormatNames() {
  return FormatNames();
}

std::string FormatList(const char* TrackFormatSpec::*field, const char* separator,
                       const char* last) {
  const std::span<const TrackFormatSpec> formats = TrackFormats();
  std::string list;
  for (size_t i = 0; i < formats.size(); ++i) {
    if (i > 0) list += i + 1 == formats.size() ? last : separator;
    list += formats[i].*field;
  }
  return list;
}

std::span<const CommandSpec> Commands() {
  return kCommands;
}

std::span<const OptionSpec> Options() {
  return OptionTable();
}

std::span<const FieldSpec> Fields() {
  return kFields;
}

const CommandSpec& SpecOf(Command command) {
  for (const CommandSpec& c : kCommands) {
    if (c.command == command) return c;
  }
  return kCommands[0];
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  Invocation& inv = parsed.invocation;
  // Known before anything can go wrong: a usage error still answers in JSON.
  // After "--" every word is an operand.
  for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    if (args[i] == "--json" || args[i] == "-j") inv.json = true;
  }
  for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    if (args[i] == "--help" || args[i] == kHelpShort) return Help(parsed, args);
    if (args[i] == "--version" || args[i] == kVersionShort) {
      parsed.action = ParsedCommandLine::Action::kVersion;
      return parsed;
    }
  }
  const size_t commandAt = CommandWordIndex(args);
  if (commandAt < args.size() && args[commandAt] == "help") return Help(parsed, args);

  const CommandSpec* spec = nullptr;
  uint32_t given = 0;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    const bool isOption = !optionsEnded && IsOptionWord(arg);
    if (spec == nullptr && !isOption) {
      if (arg == "profile" && (i + 1 >= args.size() || IsOptionWord(args[i + 1]))) {
        return Usage(parsed, "profile needs save or apply");
      }
      const std::string name = CommandNameAt(args, i);
      for (const CommandSpec& c : kCommands) {
        if (name == c.name) spec = &c;
      }
      if (spec == nullptr) {
        return Usage(parsed, "unknown command " + name, Closest(name, CommandNames()));
      }
      inv.command = spec->command;
      inv.commandKnown = true;
      continue;
    }
    if (!isOption) {
      if (static_cast<int>(inv.operands.size()) >= spec->operandCount) {
        return Usage(parsed, spec->operandCount == 0
                                 ? "unexpected argument " + arg
                                 : std::string(spec->name) + " takes only " + spec->operands);
      }
      inv.operands.push_back(arg);
      continue;
    }
    const OptionWord word = SplitOption(arg);
    const std::string& name = word.name;
    const OptionSpec* option = FindOption(name);
    const FieldSpec* field = option == nullptr ? FindField(name) : nullptr;
    if (option == nullptr && field == nullptr) {
      if (word.attached && (name == "--help" || name == "--version")) {
        return Usage(parsed, name + " takes no value");
      }
      return Usage(parsed, "unknown option " + name, Closest(name, OptionNames()));
    }
    const OptionBit bit = option != nullptr ? option->bit : kOptFields;
    const bool takesValue = field != nullptr || option->value != nullptr;
    std::string value = word.value;
    if (takesValue && !word.attached) {
      if (i + 1 >= args.size()) return Usage(parsed, name + " needs a value");
      value = args[++i];
    }
    if (!takesValue && word.attached) return Usage(parsed, name + " takes no value");
    if (spec != nullptr && ((spec->takes | kGlobalOptions) & bit) == 0) {
      return Usage(parsed, std::string(spec->name) + " takes no " +
                               (field != nullptr ? std::string("field options") : name));
    }
    given |= bit;
    if ((bit & kExportOptions) != 0) {
      const int index = std::countr_zero(static_cast<uint32_t>(bit)) - kFirstExportBit;
      inv.exports.push_back({TrackFormats()[static_cast<size_t>(index)].name, value});
      continue;
    }
    switch (bit) {
      case kOptPort:
        inv.port = value;
        break;
      case kOptOutput:
        inv.output = value;
        break;
      case kOptLog:
        inv.log = value;
        break;
      case kOptCalibration:
        inv.calibration = true;
        break;
      case kOptYes:
        inv.yes = true;
        break;
      case kOptEraseAfter:
        inv.eraseAfter = true;
        break;
      case kOptVerify:
        inv.verify = true;
        break;
      case kOptUntilEnd:
        inv.untilEnd = true;
        break;
      case kOptDryRun:
        inv.dryRun = true;
        break;
      case kOptAnyModel:
        inv.anyModel = true;
        break;
      case kOptTo:
        if (!TrackFormatNamed(value)) {
          return Usage(parsed, name + " takes " + FormatList(&TrackFormatSpec::name, ", ", " or "));
        }
        inv.to = value;
        break;
      case kOptDate:
        inv.date = value;
        break;
      case kOptQuiet:
        inv.quiet = true;
        break;
      case kOptProgress:
        if (value != "lines") return Usage(parsed, "--progress takes lines, not " + value);
        inv.progressLines = true;
        break;
      case kOptJson:
        break;
      case kOptFields:
        if (field->check && value != "0" && value != "1") {
          return Usage(parsed, name + " takes 0 or 1");
        }
        inv.fields.push_back({field, value});
        break;
    }
  }
  if (spec == nullptr) return Usage(parsed, "no command given");
  // Options given before the command word are checked against it now.
  for (const OptionSpec& o : OptionTable()) {
    if ((given & o.bit) != 0 && ((spec->takes | kGlobalOptions) & o.bit) == 0) {
      return Usage(parsed, std::string(spec->name) + " takes no " +
                               (o.bit == kOptFields ? std::string("field options") : o.name));
    }
  }
  // An empty name is no name: "--port ''" is as good as none.
  if (inv.port.empty()) given &= ~uint32_t{kOptPort};
  if (inv.output.empty()) given &= ~uint32_t{kOptOutput};
  for (const OptionSpec& o : OptionTable()) {
    if ((spec->needs & o.bit) != 0 && (given & o.bit) == 0) {
      return Usage(parsed, std::string(spec->name) + " needs " + o.name + " " + o.value);
    }
  }
  if (static_cast<int>(inv.operands.size()) != spec->operandCount) {
    return Usage(parsed, std::string(spec->name) + " needs " + spec->operands);
  }
  for (const ExportFile& e : inv.exports) {
    // The export would be renamed over the track just downloaded.
    if (e.path == inv.output) return Usage(parsed, "--" + e.format + " names the --output file");
    if (e.path.empty()) return Usage(parsed, "--" + e.format + " needs a file name");
  }
  if (inv.command == Command::kUpdate || inv.command == Command::kProfileApply) {
    inv.calibration = true;
  }
  parsed.action = ParsedCommandLine::Action::kRun;
  return parsed;
}

}  // namespace cli
