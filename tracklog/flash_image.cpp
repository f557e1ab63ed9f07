#include "tracklog/flash_image.h"

#include "tracklog/track_model.h"

int32_t FlashImage[kFlashImageSize];
LogMemoryGeometryState LogMemoryGeometry;

int IsEndOfLogRecord(int offset) {
  // The raw bytes, bit 7 of byte 3 included: decoding masks it only later.
  return IsEndMarker(FlashImage + offset) ? 1 : 0;
}

const MemoryGeometry* GeometryOfSizeReply(char reply) {
  for (const MemoryGeometry& g : kMemoryGeometries) {
    if (g.sizeReply == reply) return &g;
  }
  return nullptr;
}

bool SetGeometryFromSizeReply(char reply) {
  const MemoryGeometry* g = GeometryOfSizeReply(reply);
  if (g != nullptr) LogMemoryGeometry = {g->sizeCode, g->decodeLimit};
  return g != nullptr;
}

bool SetSizeCodeFromSizeReply(char reply) {
  const MemoryGeometry* g = GeometryOfSizeReply(reply);
  if (g != nullptr) LogMemoryGeometry.sizeCode = g->sizeCode;
  return g != nullptr;
}

const MemoryGeometry* GeometryOfKbit(int32_t sizeCode) {
  for (const MemoryGeometry& g : kMemoryGeometries) {
    if (g.sizeCode == sizeCode) return &g;
  }
  return nullptr;
}

const MemoryGeometry* GeometryOfDumpBytes(size_t bytes) {
  for (const MemoryGeometry& g : kMemoryGeometries) {
    if (bytes <= static_cast<size_t>(g.dumpBytes)) return &g;
  }
  return nullptr;
}
