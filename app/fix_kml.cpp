// Fix KML: copies a KML file the user picks into another, repairing every
// line on the way (tracklog/kml_repair.h).
#include "app/file_checks.h"
#include "app/tracker_dlg.h"
#include "app/window_memory.h"
#include "platform/os/text_file.h"
#include "tracklog/kml_repair.h"
#include "tracklog/kml_writer.h"

void CTrackerDlg::OnFixKml() {
  msg::Tell(msg::Id::kSelectInputFile);
  CFileDialog openDialog(true, ".kml", nullptr, 0, kKmlFileFilter);
  platform::TextInFile input;
  const bool inputChosen = DoModalInRememberedFolder(openDialog, "folder.fixKmlInput") == IDOK;
  if (inputChosen) {
    const std::string refusal = InputRefusal(openDialog.GetPathName());
    if (!refusal.empty()) {
      msg::Tell(msg::Id::kInputNotAFile,
                std::string(msg::Text(msg::Id::kInputNotAFile)) + "\n" + refusal);
      return;
    }
  }
  if (inputChosen && !input.Open(openDialog.GetPathName(), kFixKmlInputLimit)) {
    msg::Tell(msg::Id::kErrorOpeningInputFile);
    return;
  }
  input.StopOnInterrupt();
  msg::Tell(msg::Id::kSelectOutputFile);
  CFileDialog saveDialog(false, ".kml", nullptr, OFN_OVERWRITEPROMPT, kKmlFileFilter);
  // Without both files there is nothing to copy: end quietly.
  if (DoModalInRememberedFolder(saveDialog, "folder.fixKmlOutput") != IDOK || !inputChosen) return;
  const std::string refusal = OutputRefusal(saveDialog.GetPathName(), portName);
  if (!refusal.empty()) {
    msg::Tell(msg::Id::kErrorOpeningOutputFile,
              std::string(msg::Text(msg::Id::kErrorOpeningOutputFile)) + "\n" + refusal);
    return;
  }
  // The copy replaces the output only once complete, so the input may be the
  // output itself: it is then repaired in place.
  platform::TextOutFile output;
  if (!output.OpenReplacing(saveDialog.GetPathName())) {
    msg::Tell(msg::Id::kErrorOpeningOutputFile);
    return;
  }
  std::string line;
  bool notText = false;
  // A last line without a line end still comes with its read: it is copied too.
  while (input.ReadLine(line)) {
    // A NUL is no part of a KML file (one in UTF-16 has one in every other
    // byte): its copy would keep only scraps of it.
    if (line.find('\0') != std::string::npos) {
      notText = true;
      break;
    }
    const std::string repaired = RepairKmlLine(line);
    output.Write(repaired.data(), repaired.size());
  }
  const bool readFailed = input.Error() || notText;
  if (readFailed) {
    // A copy that stopped early must not replace anything.
    output.Discard();
    if (input.Interrupted()) return;  // the one who asked knows
    if (input.TooLong()) {
      msg::Tell(msg::Id::kInputTooLarge,
                std::string(msg::Text(msg::Id::kInputTooLarge)) + "\n" + openDialog.GetPathName() +
                    " is larger than 256 MB, more than Fix KML reads: nothing written");
      return;
    }
    msg::Tell(msg::Id::kErrorReadingInputFile);
    return;
  }
  input.Close();
  if (!output.Close()) {
    msg::Tell(msg::Id::kErrorWritingOutputFile);
    return;
  }
  msg::Tell(msg::Id::kKmlFileFixed);
}
