#include "tracklog/track_model.h"

#include <cstddef>
#include <initializer_list>

namespace {

// degrees + minutes / 60 with the minutes built up from their three bytes.
// The order of the operations and the constants are part of the file format,
// so that the same bytes always give the same last digit.
double Coordinate(const int32_t* bytes) {
  const double d = static_cast<uint32_t>(bytes[0]);
  const double m = static_cast<uint32_t>(bytes[1]);
  const double h = static_cast<uint32_t>(bytes[2]);
  const double t = static_cast<uint32_t>(bytes[3] & 0x7F);
  const double a = h * 0.01;
  const double b = a + m;
  const double s = b + t * 0.0001;
  return s * 0.016666666666666666 + d;
}

// head followed by the decimal digits of v as "%02d" writes them.
double Joined(double head, int32_t v) {
  double scale = 100;
  for (int64_t rest = v / 100; rest != 0; rest /= 10) scale *= 10;
  return head * scale + v;
}

}  // namespace

int SecondOfDay(const TrackFix& fix) {
  if (fix.utcHours < 0 || fix.utcHours > 23 || fix.utcMinutes < 0 || fix.utcMinutes > 59 ||
      fix.utcSeconds < 0 || fix.utcSeconds > 59) {
    return -1;
  }
  return fix.utcHours * 3600 + fix.utcMinutes * 60 + fix.utcSeconds;
}

bool IsEndMarker(const int32_t* record) {
  for (const int32_t marker : {0x5A, 0xA5, 0x00}) {
    if (record[0] == marker && record[1] == marker && record[2] == marker && record[3] == marker) {
      return true;
    }
  }
  return false;
}

bool IsFixRecord(const int32_t* record) {
  const auto lonDegrees = static_cast<uint32_t>(record[TrackRecord::lonDegrees]);
  const auto latDegrees = static_cast<uint32_t>(record[TrackRecord::latDegrees]);
  return lonDegrees != 0 && lonDegrees <= 180 && latDegrees <= 90;
}

TrackFix DecodeRecord(const int32_t* image, int32_t offset, bool negativeAltitude) {
  const int32_t* r = image + offset;
  TrackFix fix;
  fix.offset = offset;
  fix.west = (r[TrackRecord::lonTenThousandths] & 0x80) != 0;
  fix.south = (r[TrackRecord::latTenThousandths] & 0x80) != 0;
  fix.longitude = Coordinate(r + TrackRecord::lonDegrees);
  fix.latitude = Coordinate(r + TrackRecord::latDegrees);
  if (fix.west) fix.longitude = fix.longitude * -1;
  if (fix.south) fix.latitude = fix.latitude * -1;
  fix.altitudeHigh = r[TrackRecord::altitudeHigh];
  fix.altitudeMid = r[TrackRecord::altitudeMid];
  fix.altitudeLow = r[TrackRecord::altitudeLow];
  // The negative form writes "-", then the middle and low bytes; the other
  // writes all three bytes' digits.
  fix.altitude = negativeAltitude
                     ? -Joined(fix.altitudeMid, fix.altitudeLow)
                     : Joined(Joined(fix.altitudeHigh, fix.altitudeMid), fix.altitudeLow);
  fix.satellites = r[TrackRecord::satellites];
  fix.utcHours = r[TrackRecord::utcHours];
  fix.utcMinutes = r[TrackRecord::utcMinutes];
  fix.utcSeconds = r[TrackRecord::utcSeconds];
  return fix;
}

LogEndWatch::End LogEndWatch::Look(const int32_t* image, int arrived) {
  if (found_ != End::kNotYet) return found_;
  // The marker is the stronger finding: when one block completes both, the
  // log is known to end there.
  while (nextRecord_ < decodeLimit_ && nextRecord_ + 4 <= arrived) {
    if (IsEndMarker(image + nextRecord_)) {
      endsAt_ = nextRecord_;
      return found_ = End::kEndMarker;
    }
    nextRecord_ += TrackRecord::kSize;
  }
  for (; scanned_ < arrived; ++scanned_) {
    if (image[scanned_] != 0xFF) {
      runStart_ = -1;
    } else if (runStart_ < 0 && scanned_ % TrackRecord::kSize == 0) {
      runStart_ = scanned_;
    }
    if (runStart_ >= 0 && scanned_ + 1 - runStart_ >= kErasedRun) {
      ++scanned_;
      endsAt_ = runStart_;
      return found_ = End::kErased;
    }
  }
  return found_;
}

void LogEndWatch::Back(int to) {
  if (to < 0) to = 0;
  // Records whose first four bytes reach to or beyond are checked again.
  while (nextRecord_ >= TrackRecord::kSize && nextRecord_ - TrackRecord::kSize + 4 > to) {
    nextRecord_ -= TrackRecord::kSize;
  }
  if (found_ == End::kEndMarker && endsAt_ + 4 > to) found_ = End::kNotYet;
  if (scanned_ > to) {
    scanned_ = to;
    if (found_ == End::kErased) found_ = End::kNotYet;
  }
  if (runStart_ >= scanned_) runStart_ = -1;
}

TrackModel DecodeTrack(const int32_t* image, int imageSize, int availableBytes,
                       const LogMemoryGeometryState& geometry) {
  TrackModel model;
  if (imageSize <= 0) return model;
  model.negativeAltitude = image[0] == 253;
  int records = geometry.decodeLimit / TrackRecord::kSize + 1;
  if (records < 0) records = 0;
  if (records > imageSize / TrackRecord::kSize + 1) records = imageSize / TrackRecord::kSize + 1;
  model.fixes.reserve(static_cast<size_t>(records));
  DecodeFixes(image, imageSize, availableBytes, geometry.decodeLimit,
              [&model](const TrackFix& fix) { model.fixes.push_back(fix); });
  return model;
}

TrackModel DecodeFlashImage(int availableBytes) {
  return DecodeTrack(FlashImage, kFlashImageSize, availableBytes, LogMemoryGeometry);
}
