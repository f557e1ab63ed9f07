#include "tracklog/kml_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "tracklog/flash_image.h"

using platform::TextOutFile;

namespace {

// degrees + minutes / 60 with the minutes built up from their three bytes.
// The order of the operations and the constants are part of the file format,
// so that the same bytes always give the same last digit.
double Coordinate(const int32_t* bytes) {
  const double d = static_cast<uint32_t>(bytes[0]);
  const double m = static_cast<uint32_t>(bytes[1]);
  const double h = static_cast<uint32_t>(bytes[2]);
  const double t = static_cast<uint32_t>(bytes[3]);
  const double a = h * 0.01;
  const double b = a + m;
  const double s = b + t * 0.0001;
  return s * 0.016666666666666666 + d;
}

// "XX " for every byte value, so the dump needs no formatting per byte.
constexpr std::array<std::array<char, 3>, 256> kHexItems = [] {
  constexpr char digits[] = "0123456789ABCDEF";
  std::array<std::array<char, 3>, 256> items{};
  for (int v = 0; v < 256; ++v) items[v] = {digits[v >> 4], digits[v & 15], ' '};
  return items;
}();

}  // namespace

void WriteKmlHeader(TextOutFile& out) {
  out.Write(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<kml xmlns=\"http://earth.google.com/kml/2.0\">\n"
      "<Placemark>\n"
      "  <name>gps</name>\n"
      "  <Style id=\"khStyle690\">\n"
      "    <LineStyle id=\"khLineStyle694\">\n"
      "       <color>ff00ffff</color>\n"
      "       <width>4</width>\n"
      "    </LineStyle>\n"
      "  </Style>\n"
      "<MultiGeometry id=\"khMultiGeometry697\">\n"
      "<LineString id=\"khLineString698\">\n"
      "<tessellate>1</tessellate>\n"
      "<altitudeMode>absolute</altitudeMode>\n"
      "<coordinates>\n");
}

void WriteTrackCoordinates(TextOutFile& out) {
  WriteTrackCoordinates(out, kFlashImageSize);
}

void WriteTrackCoordinates(TextOutFile& out, int availableBytes) {
  // Address 0 picks the line form for the whole file; decoding never changes it.
  const bool negativeAltitude = FlashImage[0] == 253;
  // A geometry never holds more, but a record must not reach past the image,
  // nor past the bytes that really arrived.
  const int limit =
      std::min({LogMemoryGeometry.decodeLimit, kFlashImageSize - TrackRecord::kSize + 1,
                availableBytes - TrackRecord::kSize + 1});
  bool firstLine = true;
  for (int offset = 0; offset < limit; offset += TrackRecord::kSize) {
    if (IsEndOfLogRecord(offset) == 1) break;
    int32_t* r = FlashImage + offset;
    // No place on earth has more degrees than these: such bytes are erased or
    // unwritten memory, not a fix, and stay as they are in the dump.
    if (r[TrackRecord::lonDegrees] == 0 ||
        static_cast<uint32_t>(r[TrackRecord::lonDegrees]) > 180 ||
        static_cast<uint32_t>(r[TrackRecord::latDegrees]) > 90) {
      continue;
    }
    if (!firstLine) out.Write("\n", 1);
    const bool west = (r[TrackRecord::lonTenThousandths] & 0x80) != 0;
    const bool south = (r[TrackRecord::latTenThousandths] & 0x80) != 0;
    // Cleared in the image itself: the dump written later shows them so.
    r[TrackRecord::lonTenThousandths] &= 0x7F;
    r[TrackRecord::latTenThousandths] &= 0x7F;
    double lon = Coordinate(r + TrackRecord::lonDegrees);
    double lat = Coordinate(r + TrackRecord::latDegrees);
    if (west) lon = lon * -1;
    if (south) lat = lat * -1;
    if (negativeAltitude) {
      out.Printf("%f,%f,-%02d%02d <!-- %d sats:%d  UTC %02d:%02d:%02d -->", lon, lat,
                 r[TrackRecord::altitudeMid], r[TrackRecord::altitudeLow], offset,
                 r[TrackRecord::satellites], r[TrackRecord::utcHours], r[TrackRecord::utcMinutes],
                 r[TrackRecord::utcSeconds]);
    } else {
      out.Printf("%f,%f,%d%02d%02d <!-- %d sats:%d UTC %02d:%02d:%02d -->", lon, lat,
                 r[TrackRecord::altitudeHigh], r[TrackRecord::altitudeMid],
                 r[TrackRecord::altitudeLow], offset, r[TrackRecord::satellites],
                 r[TrackRecord::utcHours], r[TrackRecord::utcMinutes], r[TrackRecord::utcSeconds]);
    }
    firstLine = false;
  }
}

void WriteKmlFooter(TextOutFile& out) {
  out.Write(
      "\n"
      "      </coordinates>\n"
      "    </LineString>\n"
      "  </MultiGeometry>\n"
      "</Placemark>\n"
      "</kml>\n\n\n");
}

void WriteMemoryDump(TextOutFile& out) {
  WriteMemoryDump(out, kFlashImageSize);
}

void WriteMemoryDump(TextOutFile& out, int availableBytes) {
  out.Write("<!-- KLXDATA\n");
  const int64_t bytes = std::min<int64_t>(
      {int64_t{LogMemoryGeometry.sizeCode} * 1024 / 8, kFlashImageSize, availableBytes});
  constexpr int kItemsPerLine = 16;
  // Room for 16 items of "%02X " even for values outside 0..255 ("FFFFFFFF ").
  char line[kItemsPerLine * 9 + 2];
  size_t used = 0;
  for (int64_t k = 0; k < bytes; ++k) {
    const int32_t v = FlashImage[k];
    if (v >= 0 && v < 256) {
      const auto& item = kHexItems[static_cast<size_t>(v)];
      line[used] = item[0];
      line[used + 1] = item[1];
      line[used + 2] = item[2];
      used += 3;
    } else {
      // Only a block the download never filled holds such a value; keep
      // exactly what "%02X " makes of it.
      used += static_cast<size_t>(
          std::snprintf(line + used, sizeof line - used, "%02X ", static_cast<unsigned>(v)));
    }
    if ((k + 1) % kItemsPerLine == 0) {
      line[used++] = '\n';
      out.Write(line, used);
      used = 0;
    }
  }
  // Only a dump cut short ends inside a line; the line still gets its end.
  if (used != 0) {
    line[used++] = '\n';
    out.Write(line, used);
  }
  out.Write("-->\n");
}
