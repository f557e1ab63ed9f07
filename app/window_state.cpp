#include "app/window_state.h"

#include <algorithm>

#include "link/commands.h"
#include "link/device_link.h"
#include "tracklog/flash_image.h"

WindowState TheWindowState;

void ResetToolState() {
  TheWindowState.calibrationMode = 0;
  TheWindowState.configRead = false;
  for (std::string& slot : TheWindowState.RadioParameterCache) slot.clear();
  TheWindowState.workerBusy = 0;
  TheWindowState.kmlStream.Discard();
  TheWindowState.lastDownloadTrack.reset();
  TheWindowState.lastTrackFile.clear();
  TheWindowState.lastDownloadKeptBeside.clear();
  TheWindowState.downloadReads = WindowState::DownloadReads::kOnce;
  TheWindowState.downloadUntilEnd = false;
  TheWindowState.lastDownloadBytesRead = 0;
  TheWindowState.lastDownloadLogEnd = LogEndWatch::End::kNotYet;
  TheWindowState.lastDownloadLogEndsAt = 0;
  TheWindowState.keepsUserSettings = false;
  TheWindowState.lastReadPort.clear();
  TheWindowState.lastReadIdentity = {};
  TheWindowState.downloadIdentity = {};
  TheWindowState.clock = nullptr;
  TheWindowState.lastDownloadMoment = 0;
  ResetLink();
  LogMemoryGeometry = {};
  std::fill(std::begin(FlashImage), std::end(FlashImage), 0);
}
