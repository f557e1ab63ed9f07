// Runs one kw9cli invocation on the main window without a screen: the very
// same dialog on the scripted backend, typed into and clicked as a user
// would, and what the run found, for the output writers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "config/profile.h"
#include "platform/serial/serial.h"
#include "platform/ui/progress_state.h"
#include "tracklog/download_stamp.h"
#include "tracklog/flash_image.h"

namespace cli {

// The profile format and the JSON reader sit below the window, which saves
// and loads profiles too.
using config::JsonWriter;
using config::ParseProfile;
using config::Profile;
using config::ProfileField;
using config::ProfileFields;
using config::ProfileRead;
using config::ProfileText;
using config::ProfileValue;
using config::WriteProfileValue;

struct WindowValue {
  std::string member;
  std::string text;
  bool numeric;  // an unsigned field or a check box
};

// The tracker as a completed Read found it.
struct Identity {
  std::string model;
  std::optional<int64_t> firmwareVersion;
  uint32_t serialNumber = 0;
  std::string battery;  // volts, as the window shows them ("4.02")
};

// One export: of the export command, or written beside a download.
struct ExportReport {
  std::string format;  // "gpx", "csv", "geojson", "kml22"
  std::string file;
  bool written = false;
  int points = 0;           // fixes written
  int untimed = 0;          // of those, fixes without a time
  int segments = 0;         // runs of fixes no more than 10 minutes apart
  int leftOut = 0;          // fixes off the globe, lines of records that hold no place
  std::string dateAnchor;   // DateAnchorName: what dated the fixes; empty when not written
  TrackerIdentity tracker;  // the file's stamp's, or the download's
};

struct DownloadReport {
  std::string file;
  bool complete = false;              // "Done Reading Flash"
  std::optional<int> fixes;           // of the file read back
  std::optional<std::string> sha256;  // of the dump in the file read back
  bool erased = false;
  std::vector<ExportReport> exports;  // in the order asked for
  // Where what arrived went when the download ended early and FILE was kept.
  std::optional<std::string> partialFile;
  bool verified = false;         // completed, every block read twice with the reads agreeing
  std::optional<int> bytesRead;  // from address 0; none when no file was written
  // --until-end: what ended the reading ("endMarker", "erasedMemory",
  // "memoryEnd", "notReached"); none without it.
  std::optional<std::string> untilEnd;
  bool outputNamed = false;  // no --output: file is the name kw9cli chose
};

struct FieldDifference {
  const ProfileField* field;
  std::string profile;  // both in the window's text form (ProfileValue)
  std::string tracker;
};

struct ProfileReport {
  std::string file;
  std::vector<FieldDifference> differences;
  // After an apply that wrote, what the Read that followed still found.
  std::optional<std::vector<FieldDifference>> remaining;
};

struct Outcome {
  Invocation invocation;
  std::vector<std::string> messages;  // the window's message boxes, in order
  std::vector<std::string> notes;     // kw9cli's own, in order
  std::vector<WindowValue> window;    // every value of the window afterwards
  std::vector<platform::PortInfo> ports;
  std::optional<Identity> identity;
  std::optional<DownloadReport> download;
  std::optional<ProfileReport> profile;
  std::optional<ExportReport> exported;  // the export command's
  std::string usageProblem;              // a usage error found once the window was open
  ExitCode exitCode = kExitOk;
  // The result word when exitCode has several (kResultNoTracker); null for
  // the code's first.
  const char* result = nullptr;
};

// A step of the window's progress bar, or the start of an operation that
// moves it.
struct ProgressUpdate {
  bool starting = false;
  // A download: the bytes of the memory being read that have arrived, by
  // the window's own percentage of them. Zero for an erase, whose end is
  // not known.
  int64_t bytes = 0;
  int64_t totalBytes = 0;
};

// What the run reports while it goes: each message box and note as it comes
// (from any thread), and, when set, the progress (on the window's thread).
// A message that is a field's refusal comes with the field's member name
// in front ("storeInterval: Please enter ...").
struct LiveHooks {
  std::function<void(const std::string&)> message;
  std::function<void(const std::string&)> note;
  std::function<void(const ProgressUpdate&)> progress;
};

Outcome Run(const Invocation& invocation, const LiveHooks& hooks);

// True when the dump holds exactly the bytes of FlashImage a download of the
// current LogMemoryGeometry that read bytesRead bytes wrote out.
bool DumpMatchesFlashImage(const std::vector<uint8_t>& dump, int bytesRead = kFlashImageSize);

}  // namespace cli
