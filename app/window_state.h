// The window's own state beyond the values its controls show: what the
// handlers, their workers and the front ends share. One object with one
// reset; the names the tool's code uses are references into it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "config/settings.h"
#include "platform/os/text_file.h"
#include "tracklog/download_stamp.h"
#include "tracklog/track_model.h"

struct WindowState {
  // 1 once the calibration switch was on the command line; only a reset
  // clears it.
  uint8_t calibrationMode = 0;
  // Set by a Read that completed, cleared by one that did not: Write and
  // Update refuse while it is clear.
  bool configRead = false;
  // The last reply to each radio parameter's query, as it came ("ERR"
  // included); Update sends only what differs from it.
  std::array<std::string, kRadioParameterCount> RadioParameterCache;
  // 1 while a download or erase worker owns the link. Set by the handler
  // that starts the worker, cleared in one place once the worker returns.
  std::atomic<int> workerBusy{0};
  // The download's output file. OnReadFlash opens it, the worker writes and
  // closes it. It replaces the chosen file only once complete.
  platform::TextOutFile kmlStream;
  // The fixes the last download wrote into its track, decoded before the
  // writer cleared their sign flags in FlashImage, for exports made beside
  // the KML. The worker sets it as it writes the track; a caller resets it
  // before Read Flash to tell a download that wrote none, and reads it once
  // workerBusy is 0.
  std::optional<TrackModel> lastDownloadTrack;
  // The KML file Read Flash last wrote, or the one the user last opened for
  // the track menu: what Show Track shows and Export Track offers first.
  std::string lastTrackFile;
  // Where the last download that ended early saved what arrived when the
  // chosen file was kept (NAME.partial.kml); empty when it went to the chosen
  // name, or nowhere. The worker sets it before its last message.
  std::string lastDownloadKeptBeside;
  // How often a download reads the memory: the window once; kw9cli's
  // --verify twice, each block read again until two reads agree. The 64- and
  // 128-kbit blocks have no line end to check, hence the middle choice.
  enum class DownloadReads : uint8_t { kOnce, kTwiceWithoutLineEnds, kTwice };
  DownloadReads downloadReads = DownloadReads::kOnce;
  // kw9cli's --until-end: the download reads from address 0 only until the
  // log ends (LogEndWatch). The window's Read Flash reads the whole memory.
  bool downloadUntilEnd = false;
  // How many bytes from address 0 the last download read, and what ended
  // its reading when it read until the log's end (kNotYet: the memory's
  // end, or a download that ended early). The worker sets both before its
  // last message.
  int lastDownloadBytesRead = 0;
  LogEndWatch::End lastDownloadLogEnd = LogEndWatch::End::kNotYet;
  int lastDownloadLogEndsAt = 0;  // the end marker's record, or the erased run's start
  // On in the window program alone: the port of a completed Read and each
  // file dialog's folder go to the user's settings and come back at the next
  // start (window_memory.h).
  bool keepsUserSettings = false;
  // The port of the last Read that completed and the tracker it found: Read
  // Flash names its file after that tracker and stamps the file with it
  // when the same port is shown (kw9cli's identification sets them too).
  std::string lastReadPort;
  TrackerIdentity lastReadIdentity;
  // The tracker the running download's stamp names (empty fields: unknown),
  // taken when Read Flash was pressed.
  TrackerIdentity downloadIdentity;
  // The download's stamp takes its time from here: seconds since 1970 UTC.
  // Tests set a fixed clock.
  int64_t (*clock)() = nullptr;
  // The time the last download's stamp holds (when it ended); 0 for none.
  int64_t lastDownloadMoment = 0;
};
extern WindowState TheWindowState;

inline uint8_t& calibrationMode = TheWindowState.calibrationMode;
inline bool& configRead = TheWindowState.configRead;
inline std::array<std::string, kRadioParameterCount>& RadioParameterCache =
    TheWindowState.RadioParameterCache;
inline std::atomic<int>& workerBusy = TheWindowState.workerBusy;
inline platform::TextOutFile& kmlStream = TheWindowState.kmlStream;
inline std::optional<TrackModel>& lastDownloadTrack = TheWindowState.lastDownloadTrack;
inline std::string& lastTrackFile = TheWindowState.lastTrackFile;
inline std::string& lastDownloadKeptBeside = TheWindowState.lastDownloadKeptBeside;

// Everything back to how a fresh start finds it: the window's state, the
// link (closed), the tracker's last model text and the log memory's image
// and geometry. For a front end that runs the window more than once.
void ResetToolState();
