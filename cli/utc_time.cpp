#include "cli/utc_time.h"

#include "tracklog/track_export.h"
#include "tracklog/track_text.h"

namespace cli {

std::string UtcText(int64_t unixSeconds) {
  TrackText text;
  text.IsoTime(unixSeconds);
  return text.Text();
}

std::string UtcNow() {
  return UtcText(UnixNow());
}

}  // namespace cli
