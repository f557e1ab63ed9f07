// kw9cli's command line: one table of the commands, their options and their
// help text, and a parser that turns the arguments into a plain description
// of what to do. Nothing here opens a port or runs an operation.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tracklog/track_formats.h"

namespace cli {

enum class Command {
  kPorts,
  kRead,
  kWrite,
  kUpdate,
  kDownload,
  kErase,
  kFlashTest,
  kGo,
  kFixKml,
  kExport,
  kProfileSave,
  kProfileApply,
};

// The options, as bits, so that a command's row says which it takes.
enum OptionBit : uint32_t {
  kOptPort = 1u << 0,
  kOptOutput = 1u << 1,
  kOptCalibration = 1u << 2,
  kOptYes = 1u << 3,
  kOptEraseAfter = 1u << 4,
  kOptDryRun = 1u << 5,
  kOptFields = 1u << 6,  // the window's fields (FieldSpec)
  kOptJson = 1u << 7,
  kOptLog = 1u << 8,
  kOptTo = 1u << 9,
  kOptDate = 1u << 10,
  kOptAnyModel = 1u << 11,
  kOptVerify = 1u << 12,
  kOptUntilEnd = 1u << 13,
  kOptQuiet = 1u << 14,
  kOptProgress = 1u << 15,
};
// The download's exports ("--gpx FILE"): a bit each from here up, in the
// order of TrackFormats().
constexpr int kFirstExportBit = 16;
constexpr uint32_t kExportOptions = ~uint32_t{0} << kFirstExportBit;
// Every command takes these: a script passes them to all alike.
constexpr uint32_t kGlobalOptions = kOptJson | kOptLog | kOptQuiet | kOptProgress;

struct OptionSpec {
  OptionBit bit;
  const char* name;
  const char* value;  // the value's placeholder; nullptr for a switch
  const char* help;
  const char* shortName;  // "-p", or nullptr
};

// A field of the window that an option types into.
struct FieldSpec {
  const char* option;
  const char* value;   // the value's placeholder
  const char* member;  // the window's member name
  int control;
  bool check;            // a check box: takes 0 or 1
  bool calibrationOnly;  // the window shows it in calibration mode only
};

struct CommandSpec {
  Command command;
  const char* name;      // one word, or "profile save"
  const char* operands;  // "INPUT OUTPUT", or "" for none
  int operandCount;
  uint32_t takes;  // options besides kGlobalOptions
  uint32_t needs;  // options that must be given
  const char* help;
  const char* examples;  // whole command lines, one a line
};

std::span<const CommandSpec> Commands();
std::span<const OptionSpec> Options();
std::span<const FieldSpec> Fields();
const CommandSpec& SpecOf(Command command);

struct FieldValue {
  const FieldSpec* field;
  std::string value;
};

// The track formats, by the names --to and the download's options take.
std::span<const char* const> TrackFormatNames();

// One field of every format as prose, in the table's order:
// FormatList(&TrackFormatSpec::name, ", ", " or ") is "gpx, csv, geojson or
// kml22".
std::string FormatList(const char* TrackFormatSpec::*field, const char* separator,
                       const char* last);

// An export the download writes beside its KML file.
struct ExportFile {
  std::string format;  // one of TrackFormatNames
  std::string path;
};

// What to do, as the command line says it.
struct Invocation {
  Command command = Command::kPorts;
  bool commandKnown = false;  // false only in a usage error before the command
  std::string port;
  std::string output;
  std::string log;
  std::vector<std::string> operands;
  bool calibration = false;
  bool yes = false;
  bool eraseAfter = false;
  bool verify = false;
  bool untilEnd = false;  // download: read only until the log ends
  bool dryRun = false;
  bool anyModel = false;  // profile apply: a profile of another model too
  bool json = false;
  bool quiet = false;               // no progress on standard error
  bool progressLines = false;       // progress as plain lines even on a terminal
  std::vector<FieldValue> fields;   // in the order given
  std::string to;                   // export: one of TrackFormatNames
  std::string date;                 // export: YYYY-MM-DD as given; empty for none
  std::vector<ExportFile> exports;  // download: in the order given
};

struct ParsedCommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kUsageError;
  // kRun: the whole of it. kUsageError: what was understood before the
  // problem (json is set whenever --json or -j was given before any "--").
  Invocation invocation;
  std::string problem;  // kUsageError
  // kUsageError: the names a mistyped command or option is closest to.
  std::vector<std::string> suggestions;
  // kHelp: the command whose help was asked for ("download", "profile" for
  // both profile commands); empty for the full text.
  std::string helpTopic;
};

// args without the program's name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// Prose of the help text, in order, each under its heading ("" for none).
struct HelpSection {
  const char* heading;
  const char* text;
};
std::span<const HelpSection> HelpSections();

// The full --help text.
std::string HelpText();

// The help of the commands a helpTopic names: usage, what it does, its
// options and examples, all from the tables the full text is written from.
std::string CommandHelpText(const std::string& topic);

// What standard error gets for a usage error: the problem, the names it may
// have meant, and where to read more (the command's help when it is known).
std::string UsageErrorText(const std::string& problem, const std::vector<std::string>& suggestions,
                           const Invocation& invocation);

}  // namespace cli
