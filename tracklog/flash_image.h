// The in-memory copy of the tracker's log memory and its geometry.
#pragma once

#include <cstddef>
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

// The three log memories: the size reply that names each, what the decoder
// and the memory dump cover, and how Read Flash reads it. The one table of
// these facts.
struct MemoryGeometry {
  char sizeReply;       // the first character of the size query's reply
  int32_t sizeCode;     // kbit
  int32_t decodeLimit;  // records are examined only at offsets below this
  int dumpBytes;        // the whole memory, as the file's dump holds it
  int downloadBytes;    // what Read Flash reads: the short form always 16384
  int blockBytes;       // a block read's data bytes
};
inline constexpr MemoryGeometry kMemoryGeometries[] = {
    {'0', 64, 8180, 8192, 16384, 8},
    {'1', 128, 16380, 16384, 16384, 8},
    {'2', 1024, 131056, 131072, kFlashImageSize, 16},
};
// The geometry a size reply names; null for a reply that names none.
const MemoryGeometry* GeometryOfSizeReply(char reply);
// The geometry of a memory of this many kbit; null for a size no tracker has.
const MemoryGeometry* GeometryOfKbit(int32_t sizeCode);
// The smallest memory a dump of this many bytes fits; null for none.
const MemoryGeometry* GeometryOfDumpBytes(size_t bytes);
// Sets LogMemoryGeometry from the first character of a size reply; any reply
// that names no memory leaves it unchanged and gives false.
bool SetGeometryFromSizeReply(char reply);
// The same for sizeCode alone, as the erase and the flash test set it.
bool SetSizeCodeFromSizeReply(char reply);
// The 1024-kbit memory answers a block read with 16 bytes and a line end
// (LF CR); the smaller ones with 8 bare bytes.
inline bool WideBlockForm(int32_t sizeCode) {
  return sizeCode == 1024;
}

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
