#include "tracklog/flash_image.h"

#include <initializer_list>

int32_t FlashImage[kFlashImageSize];
LogMemoryGeometryState LogMemoryGeometry;

int IsEndOfLogRecord(int offset) {
  // The raw bytes, bit 7 of byte 3 included: decoding masks it only later.
  const int32_t* b = FlashImage + offset;
  for (const int32_t marker : {0x5A, 0xA5, 0x00}) {
    if (b[0] == marker && b[1] == marker && b[2] == marker && b[3] == marker) return 1;
  }
  return 0;
}
