// The one catalogue of what the tool tells its user, and the outcome each
// telling stands for. Handlers tell by id; front ends (kw9cli) learn what
// happened from the outcomes instead of comparing message texts, so a text
// can be corrected in one place without changing what it means.
//
// It lives in link/ because the link itself tells the user (a port that does
// not open, a reply that never came) and nothing below app/ may include it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace msg {

// What an outcome means for whoever drives the window.
enum class Cause : uint8_t {
  kOk,           // the operation's own notice or completion
  kMessage,      // a refusal or a failure of the operation itself
  kUsage,        // the input given was not usable
  kPort,         // the port did not open
  kSilent,       // the tracker did not answer, or the link was lost
  kOutput,       // an output file could not be written
  kPartial,      // a download stopped early; what arrived is kept
  kVerify,       // a check found a difference
  kInterrupted,  // the user stopped it
};

enum class Id : uint8_t {
  // Notices shown in a box.
  kCalibrationModeEnabled,
  kCommittingData,
  kDoneReadingFlash,
  kDoneClearingFlash,
  kFlashTestPassed,
  kSelectInputFile,
  kSelectOutputFile,
  kKmlFileFixed,
  // Completions shown in the status line.
  kReadComplete,
  kReadFailed,
  kWriteComplete,
  kTxRunning,
  kDoneErasing,
  kDownloadStopped,
  // The port.
  kErrorOpeningComPort,
  kErrorConfiguringPort,
  kErrorGettingTimeouts,
  kErrorSettingTimeouts,
  // The tracker.
  kReadReturnedNothing,
  kTrackerNotResponding,
  kErrorReadingMemorySize,  // Read Flash's spelling
  kErrorReadimgMemorySize,  // Clear Flash's and Flash Test's
  kRepliesEndCrLf,
  // Read Flash's file.
  kErrorOpeningKmlFile,
  kErrorWritingKmlFile,
  kErrorReadingFlash,
  // Fix KML's files.
  kErrorOpeningInputFile,
  kErrorReadingInputFile,
  kErrorOpeningOutputFile,
  kErrorWritingOutputFile,
  kInputNotAFile,  // a device, pipe or folder chosen as the input
  kInputTooLarge,  // past the most Fix KML reads
  // Refusals and failures of the operations themselves.
  kPleaseWait,
  kReadBeforeWrite,
  kIdStringRecovery,
  kIdsDoNotMatch,
  kRadioValueTooLong,
  kRadioValueNotPrintable,
  kShutdownVoltageOutOfRange,
  kDataReadError,
  kReadExpected,  // "Read: %x, Expected: %x", formatted by the caller
  kErrorRestoringFlash,
  kErrorClearingFlash,
  kFlashTestReadsDisagree,
};

struct Entry {
  Id id;
  Cause cause;
  const char* text;  // exactly as the window shows it, misspellings included
  bool inBox;        // false: shown in the status line
};

namespace catalogue_rows {

inline constexpr Entry Box(Id id, Cause cause, const char* text) {
  return {id, cause, text, true};
}
inline constexpr Entry Status(Id id, Cause cause, const char* text) {
  return {id, cause, text, false};
}

using C = Cause;

inline constexpr std::array kEntries = {
    Box(Id::kCalibrationModeEnabled, C::kOk, "Calibration Mode Enabled\n"),
    Box(Id::kCommittingData, C::kOk, "Committing Data\n"),
    Box(Id::kDoneReadingFlash, C::kOk, "Done Reading Flash"),
    Box(Id::kDoneClearingFlash, C::kOk, "Done Clearing Flash"),
    Box(Id::kFlashTestPassed, C::kOk, "I2C Read Test Passed"),
    Box(Id::kSelectInputFile, C::kOk, "First select an input file"),
    Box(Id::kSelectOutputFile, C::kOk, "Now select an output file"),
    Box(Id::kKmlFileFixed, C::kOk, "KML file fixed"),
    Status(Id::kReadComplete, C::kOk, "Read Complete"),
    Status(Id::kReadFailed, C::kMessage, "Read Failed"),
    Status(Id::kWriteComplete, C::kOk, "Write Complete"),
    Status(Id::kTxRunning, C::kOk, "TX running, Enter a command to stop"),
    Status(Id::kDoneErasing, C::kOk, "Done eraseing"),
    Status(Id::kDownloadStopped, C::kInterrupted,
           "Download stopped; the fixes that arrived are kept"),
    Box(Id::kErrorOpeningComPort, C::kPort, "Error opening com port"),
    Box(Id::kErrorConfiguringPort, C::kPort, "Error configuring port"),
    Box(Id::kErrorGettingTimeouts, C::kPort, "error getting timeouts"),
    Box(Id::kErrorSettingTimeouts, C::kPort, "Error setting timeouts"),
    Box(Id::kReadReturnedNothing, C::kSilent,
        "Serial Port Error: Read returned 0 chars. Closing com port"),
    Box(Id::kTrackerNotResponding, C::kSilent, "Tracker not responding"),
    Box(Id::kErrorReadingMemorySize, C::kSilent, "Error reading memory size"),
    Box(Id::kErrorReadimgMemorySize, C::kSilent, "Error readimg memory size"),
    Box(Id::kRepliesEndCrLf, C::kSilent,
        "The tracker's replies end with CR LF, not LF CR: this is no tracker, or its lines were "
        "set up for a terminal program. Check the port. Closing com port"),
    Box(Id::kErrorOpeningKmlFile, C::kOutput, "Error opening file"),
    Box(Id::kErrorWritingKmlFile, C::kOutput, "Error writing file"),
    Box(Id::kErrorReadingFlash, C::kPartial, "Error reading flash"),
    // Fix KML's input is the user's choice of file, not an output.
    Box(Id::kErrorOpeningInputFile, C::kMessage, "Error opening file"),
    Box(Id::kErrorReadingInputFile, C::kMessage, "Error reading file"),
    Box(Id::kErrorOpeningOutputFile, C::kOutput, "Error opening output filefile"),
    Box(Id::kErrorWritingOutputFile, C::kOutput, "Error writing file"),
    // Shown with the reason below: the input was not usable.
    Box(Id::kInputNotAFile, C::kUsage, "Error opening file"),
    Box(Id::kInputTooLarge, C::kUsage, "Error reading file"),
    Box(Id::kPleaseWait, C::kMessage, "Please wait until the previous operation completes"),
    Box(Id::kReadBeforeWrite, C::kMessage, "Please issue a read command before attempting a write"),
    Box(Id::kIdStringRecovery, C::kMessage,
        "Non-volatile memory corruption detected.  Attempting recovery of ID string"),
    Box(Id::kIdsDoNotMatch, C::kMessage,
        "IDs do not match, you should invoke this program with the -tamsk switch and recheck "
        "all programming parameters"),
    Box(Id::kRadioValueTooLong, C::kMessage, "Please enter no more than 63 characters."),
    Box(Id::kRadioValueNotPrintable, C::kMessage, "Please enter printable characters only."),
    Box(Id::kShutdownVoltageOutOfRange, C::kMessage,
        "Please enter a voltage between 0.00 and 6.59."),
    Box(Id::kDataReadError, C::kMessage, "Data Read Error"),
    Box(Id::kReadExpected, C::kMessage, "Read: %x, Expected: %x"),
    Box(Id::kErrorRestoringFlash, C::kMessage, "Error restoring flash"),
    Box(Id::kErrorClearingFlash, C::kMessage, "Error clearing flash"),
    // Flash Test's two reads of the record it would overwrite differ.
    Box(Id::kFlashTestReadsDisagree, C::kMessage, "Error reading flash"),
};

// A row out of place would give an id another's text and cause.
inline constexpr bool InIdOrder() {
  for (size_t i = 0; i < kEntries.size(); ++i) {
    if (static_cast<size_t>(kEntries[i].id) != i) return false;
  }
  return true;
}
static_assert(InIdOrder(), "the catalogue's rows follow Id");
}  // namespace catalogue_rows

// Every entry, in the order of Id.
inline constexpr std::span<const Entry> Catalogue() {
  return catalogue_rows::kEntries;
}
inline constexpr const Entry& EntryOf(Id id) {
  return catalogue_rows::kEntries[static_cast<size_t>(id)];
}
inline constexpr const char* Text(Id id) {
  return EntryOf(id).text;
}

struct Outcome {
  Id id;
  Cause cause;
  std::string text;  // as shown, a reason or a formatted value included
  bool inBox;
};

// Called for every outcome, on the thread that reports it, before its box
// (if any) is shown. Empty: outcomes go nowhere.
using OutcomeHandler = std::function<void(const Outcome&)>;
void SetOutcomeHandler(OutcomeHandler handler);

// Reports id's outcome, then shows its box with the catalogue's text, or
// with shown instead (a formatted text, or the text with a reason below it).
void Tell(Id id);
void Tell(Id id, const std::string& shown);
// Reports id's outcome without a box: the caller shows it in the status line
// or beside a field.
void Report(Id id);
void Report(Id id, const std::string& shown);

// While one lives, nothing is told or reported: an exchange nobody pressed a
// button for (kw9cli's look at which tracker is on the port) must show no box
// and stand in no record as the operation's trouble. First() is what would
// have been told first. One at a time, on the thread that makes it, while no
// worker runs.
class Hush {
 public:
  Hush();
  ~Hush();
  Hush(const Hush&) = delete;
  Hush& operator=(const Hush&) = delete;
  // The text of the first telling held back; empty when there was none.
  const std::string& First() const { return first_; }
  // For Tell and Report: keeps text when it is the first.
  void Hold(const std::string& text) {
    if (first_.empty()) first_ = text;
  }

 private:
  std::string first_;
};

}  // namespace msg
