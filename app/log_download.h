// The log download: Read Flash on the window, and the worker that reads the
// log memory block by block and writes it as a KML track file. The state here
// is shared with the erase (erase.h) and the window.
#pragma once

#include <atomic>
#include <optional>

#include "platform/os/text_file.h"
#include "tracklog/track_model.h"

// 1 while a download or erase worker owns the link. Set by the handler that
// starts the worker, cleared by the worker once its last message is closed.
extern std::atomic<int> workerBusy;

// The download's output file. OnReadFlash opens it, the worker writes and
// closes it. It replaces the chosen file only once complete.
extern platform::TextOutFile kmlStream;

// The fixes the last download wrote into its track, decoded before the
// writer cleared their sign flags in FlashImage, for exports made beside the
// KML. The worker sets it as it writes the track; a caller resets it before
// Read Flash to tell a download that wrote none, and reads it once
// workerBusy is 0.
extern std::optional<TrackModel> lastDownloadTrack;

// Sets LogMemoryGeometry from the first character of a size reply: "0", "1",
// "2" are 64, 128 and 1024 kbit; any other leaves it unchanged and gives false.
bool SetGeometryFromSizeReply(char reply);
// The same for sizeCode alone, as the erase and the flash test set it.
void SetSizeCodeFromSizeReply(char reply);

// Thread procedure; param is a WorkerParameter (app/tracker_dlg.h), released
// here. Returns 1.
int LogDownloadWorker(void* param);
