#include "cli/command_line.h"

#include <array>
#include <bit>

#include "app/control_ids.h"
#include "cli/exit_codes.h"

namespace cli {

namespace {

constexpr uint32_t kLogCommandOptions = kOptPort | kOptCalibration;

// The download's and the export's help, and --to's value, name every format.
const char* DownloadHelp() {
  static const std::string help =
      "press Read Flash and save the log as FILE (replaced only once complete; what arrived of "
      "a download that ended early goes beside an existing FILE as NAME.partial.kml); " +
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
    {Command::kPorts, "ports", "", 0, 0, 0, "list the serial ports that exist"},
    {Command::kRead, "read", "", 0, kOptPort | kOptCalibration, kOptPort, "press Read"},
    {Command::kWrite, "write", "", 0, kOptPort | kOptCalibration | kOptFields, kOptPort,
     "press Read, set the fields, press Write"},
    {Command::kUpdate, "update", "", 0, kOptPort | kOptCalibration | kOptFields, kOptPort,
     "in calibration mode: press Read, set the fields, press Update"},
    {Command::kDownload, "download", "", 0,
     kLogCommandOptions | kOptOutput | kOptEraseAfter | kOptVerify | kOptUntilEnd | kExportOptions,
     kOptPort | kOptOutput, DownloadHelp()},
    {Command::kErase, "erase", "", 0, kLogCommandOptions | kOptYes, kOptPort,
     "press Clear Flash; only --yes answers CLEAR, else Cancel is pressed"},
    {Command::kFlashTest, "flash-test", "", 0, kLogCommandOptions, kOptPort,
     "press Flash Test (it writes a pattern to log memory bytes 0 to 15 and then puts back what "
     "they held; \"Error restoring flash\" when they do not read back)"},
    {Command::kGo, "go", "", 0, kLogCommandOptions, kOptPort, "press Go!"},
    {Command::kFixKml, "fix-kml", "INPUT OUTPUT", 2, kOptCalibration, 0,
     "press Fix KML and choose the two files (the same name repairs it in place)"},
    {Command::kExport, "export", "INPUT", 1, kOptTo | kOptOutput | kOptDate, kOptTo, ExportHelp()},
    {Command::kProfileSave, "profile save", "", 0, kOptPort | kOptOutput, kOptPort | kOptOutput,
     "press Read and save the settings and radio parameters as a profile in FILE"},
    {Command::kProfileApply, "profile apply", "FILE", 1, kOptPort | kOptDryRun | kOptAnyModel,
     kOptPort,
     "in calibration mode: press Read, print each field that differs from the profile FILE, set "
     "those and press Write (and Update for radio values), then press Read again and compare; "
     "--dry-run stops after the list"},
}};

// Before the download's exports, which OptionTable adds from the format table.
const std::array<OptionSpec, 14> kOptions = {{
    {kOptPort, "--port", "NAME", "the tracker's serial port"},
    {kOptOutput, "--output", "FILE", "the file to write"},
    {kOptCalibration, "--calibration", nullptr, "run the window in calibration mode"},
    {kOptYes, "--yes", nullptr, "answer the erase confirmation with CLEAR"},
    {kOptEraseAfter, "--erase-after", nullptr,
     "erase once the download is safe on disk (a 64- or 128-kbit memory is read twice first, "
     "which costs about 26 s more)"},
    {kOptVerify, "--verify", nullptr,
     "read the memory twice, and each block whose reads differ again until two agree"},
    {kOptUntilEnd, "--until-end", nullptr,
     "read the memory only up to the end of the log, not all of it (see Reading until the "
     "log's end)"},
    {kOptDryRun, "--dry-run", nullptr, "list the differences, change nothing"},
    {kOptFields, "", nullptr, ""},  // the fields have a table of their own
    {kOptJson, "--json", nullptr, "one JSON object on standard output"},
    {kOptLog, "--log", "FILE", "append one custody line to FILE"},
    {kOptTo, "--to", FormatChoice(), "the format to write"},
    {kOptDate, "--date", "YYYY-MM-DD", "the UTC date of the first fix"},
    {kOptAnyModel, "--any-model", nullptr, "apply a profile saved from another model too"},
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
      rows.push_back({ExportOptionBit(i), TrackFormats()[i].option, "FILE", exportHelp[i].c_str()});
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

bool IsOptionWord(const std::string& arg) {
  return arg.rfind("--", 0) == 0;
}

ParsedCommandLine Usage(ParsedCommandLine& parsed, const std::string& problem) {
  parsed.action = ParsedCommandLine::Action::kUsageError;
  parsed.problem = problem;
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
  for (const std::string& arg : args) {
    if (arg == "--json") inv.json = true;
  }
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      parsed.action = ParsedCommandLine::Action::kHelp;
      return parsed;
    }
    if (arg == "--version") {
      parsed.action = ParsedCommandLine::Action::kVersion;
      return parsed;
    }
  }

  const CommandSpec* spec = nullptr;
  uint32_t given = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (spec == nullptr && !IsOptionWord(arg)) {
      std::string name = arg;
      if (arg == "profile") {
        if (i + 1 >= args.size() || IsOptionWord(args[i + 1])) {
          return Usage(parsed, "profile needs save or apply");
        }
        name += " " + args[++i];
      }
      for (const CommandSpec& c : kCommands) {
        if (name == c.name) spec = &c;
      }
      if (spec == nullptr) return Usage(parsed, "unknown command " + name);
      inv.command = spec->command;
      inv.commandKnown = true;
      continue;
    }
    if (!IsOptionWord(arg)) {
      if (static_cast<int>(inv.operands.size()) >= spec->operandCount) {
        return Usage(parsed, spec->operandCount == 0
                                 ? "unexpected argument " + arg
                                 : std::string(spec->name) + " takes only " + spec->operands);
      }
      inv.operands.push_back(arg);
      continue;
    }
    const OptionSpec* option = FindOption(arg);
    const FieldSpec* field = option == nullptr ? FindField(arg) : nullptr;
    if (option == nullptr && field == nullptr) return Usage(parsed, "unknown option " + arg);
    const OptionBit bit = option != nullptr ? option->bit : kOptFields;
    const bool takesValue = field != nullptr || option->value != nullptr;
    std::string value;
    if (takesValue) {
      if (i + 1 >= args.size()) return Usage(parsed, arg + " needs a value");
      value = args[++i];
    }
    if (spec != nullptr && ((spec->takes | kGlobalOptions) & bit) == 0) {
      return Usage(parsed, std::string(spec->name) + " takes no " +
                               (field != nullptr ? std::string("field options") : arg));
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
          return Usage(parsed, arg + " takes " + FormatList(&TrackFormatSpec::name, ", ", " or "));
        }
        inv.to = value;
        break;
      case kOptDate:
        inv.date = value;
        break;
      case kOptJson:
        break;
      case kOptFields:
        if (field->check && value != "0" && value != "1") {
          return Usage(parsed, arg + " takes 0 or 1");
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
