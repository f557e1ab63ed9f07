// The in-memory copy of the tracker's log memory and its geometry.
#pragma once

#include <cstdint>

// One int per byte of the largest log memory (1024 kbit); entry k holds the
// byte at log-memory address k as 0..255. Never reallocated.
constexpr int kFlashImageSize = 131072;
extern int32_t FlashImage[kFlashImageSize];

struct LogMemoryGeometryState {
  int32_t sizeCode = 0;     // log memory size in kbit: 64, 128 or 1024; 0 until set
  int32_t decodeLimit = 0;  // records are examined only at offsets below this
};
extern LogMemoryGeometryState LogMemoryGeometry;

// One fix record: 15 bytes back to back from address 0.
struct TrackRecord {
  static constexpr int kSize = 15;
  enum Byte {
    lonDegrees,
    lonMinutes,
    lonHundredths,
    lonTenThousandths,
    latDegrees,
    latMinutes,
    latHundredths,
    latTenThousandths,
    altitudeHigh,
    altitudeMid,
    altitudeLow,
    satellites,
    utcHours,
    utcMinutes,
    utcSeconds,
  };
};

// 1 when the record at offset starts with four 0x5A, four 0xA5 or four 0x00.
int IsEndOfLogRecord(int offset);
