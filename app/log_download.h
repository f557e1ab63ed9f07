// The log download: Read Flash on the window, and the worker that reads the
// log memory block by block and writes it as a KML track file. What it
// shares with the erase and the window is in window_state.h.
#pragma once

#include "app/window_state.h"

// Thread procedure; param is the WorkerParameter (app/tracker_dlg.h) that
// CTrackerDlg::StartWorker made. Returns 1.
int LogDownloadWorker(void* param);

// True when a download of the memory of sizeCode kbit reads it twice, as
// TheWindowState.downloadReads asks.
bool DownloadReadsTwice(int sizeCode);
