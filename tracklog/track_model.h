// The fixes a log memory holds, decoded once by the rules of the KML file:
// records of 15 bytes from address 0, up to the first end marker and below
// decodeLimit, records that hold no place skipped, the altitude form chosen
// by the byte at address 0. The KML writer and every export read them here.
#pragma once

#include <cstdint>
#include <vector>

#include "tracklog/flash_image.h"

// One fix record as stored and as the KML line shows it.
struct TrackFix {
  int32_t offset = 0;    // the record's byte offset in the log memory
  double longitude = 0;  // degrees, west negative
  double latitude = 0;   // degrees, south negative
  double altitude = 0;   // metres: the number the KML line's altitude reads as
  int32_t altitudeHigh = 0;
  int32_t altitudeMid = 0;
  int32_t altitudeLow = 0;
  int32_t satellites = 0;
  int32_t utcHours = 0;  // as stored: nothing keeps them below 24, 60, 60
  int32_t utcMinutes = 0;
  int32_t utcSeconds = 0;
  bool west = false;  // the sign flags as the record held them
  bool south = false;
};

// The second of the UTC day the fix was taken, or -1 when its time is one no
// clock shows (hours above 23, minutes or seconds above 59).
int SecondOfDay(const TrackFix& fix);

struct TrackModel {
  // Address 0 holds 253: every altitude is written as "-" and four digits.
  bool negativeAltitude = false;
  std::vector<TrackFix> fixes;  // in log order
};

// True when the record starts with four 0x5A, four 0xA5 or four 0x00 (the raw
// bytes, bit 7 of byte 3 included).
bool IsEndMarker(const int32_t* record);

// False for a record that holds no place: longitude degrees 0 (the tracker
// writes no fix there) or above 180, latitude degrees above 90 (erased or
// never written memory).
bool IsFixRecord(const int32_t* record);

// The fields of the record at image + offset, signs applied as its bit 7 flags
// say; negativeAltitude picks how the altitude bytes read.
TrackFix DecodeRecord(const int32_t* image, int32_t offset, bool negativeAltitude);

// The one decoder: calls visit(const TrackFix&) for each fix in log order, in
// one pass, allocating nothing. Only records wholly within the first
// availableBytes of the image (imageSize entries) and starting below
// decodeLimit count.
template <typename Visit>
void DecodeFixes(const int32_t* image, int imageSize, int availableBytes, int decodeLimit,
                 Visit&& visit) {
  if (imageSize <= 0) return;
  const bool negativeAltitude = image[0] == 253;
  int limit = decodeLimit;
  if (imageSize - TrackRecord::kSize + 1 < limit) limit = imageSize - TrackRecord::kSize + 1;
  if (availableBytes - TrackRecord::kSize + 1 < limit) {
    limit = availableBytes - TrackRecord::kSize + 1;
  }
  for (int offset = 0; offset < limit; offset += TrackRecord::kSize) {
    const int32_t* record = image + offset;
    if (IsEndMarker(record)) break;
    if (!IsFixRecord(record)) continue;
    visit(DecodeRecord(image, offset, negativeAltitude));
  }
}

// Where the log ends in a memory read from address 0, looked at block by
// block as the bytes arrive, for a download that reads only what holds the
// log. The end is either the first end marker at a record boundary below
// decodeLimit (IsEndMarker, the decoder's own test: its record and all after
// it give the decoder nothing), or the first kErasedRun bytes of 0xFF from a
// record boundary on: memory that was never written since an erase, whose
// records hold no place. The second can miss records written after such a
// run; only a read of the whole memory sees them.
class LogEndWatch {
 public:
  enum class End { kNotYet, kEndMarker, kErased };
  static constexpr int kErasedRun = 256;

  explicit LogEndWatch(int decodeLimit) : decodeLimit_(decodeLimit) {}

  // The first `arrived` bytes of image are in. Once an end is found it
  // stays found.
  End Look(const int32_t* image, int arrived);
  // The bytes from address `to` on are to be read again: what was seen of
  // them no longer counts.
  void Back(int to);
  End Found() const { return found_; }
  // Where the log ends: the end marker's record, or the start of the run.
  int EndsAt() const { return endsAt_; }

 private:
  int decodeLimit_;
  End found_ = End::kNotYet;
  int endsAt_ = 0;
  int nextRecord_ = 0;  // the next record offset whose marker is not checked
  int scanned_ = 0;     // bytes looked at for the 0xFF run
  int runStart_ = -1;   // a record boundary from which every byte was 0xFF
};

// The fixes of an image as a model, its storage reserved once.
TrackModel DecodeTrack(const int32_t* image, int imageSize, int availableBytes,
                       const LogMemoryGeometryState& geometry);

// The fixes of FlashImage as far as a download filled it. Decode before the
// KML writer runs: the writer clears the sign flags in the image.
TrackModel DecodeFlashImage(int availableBytes);
