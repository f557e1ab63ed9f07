#include "tracklog/kml_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "tracklog/flash_image.h"
#include "tracklog/track_model.h"

using platform::TextOutFile;

namespace {

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

void AppendKmlLine(TrackText& line, const TrackFix& fix, bool negativeAltitude) {
  // "%f,%f,%d%02d%02d <!-- %d sats:%d UTC %02d:%02d:%02d -->", or with
  // "-%02d%02d" for the altitude and two blanks before "UTC".
  line.Fixed6(fix.longitude).Add(',').Fixed6(fix.latitude).Add(',');
  if (negativeAltitude) {
    line.Add('-');
  } else {
    line.Int(fix.altitudeHigh);
  }
  line.Int(fix.altitudeMid, 2).Int(fix.altitudeLow, 2).Add(" <!-- ").Int(fix.offset);
  line.Add(" sats:").Int(fix.satellites).Add(negativeAltitude ? "  UTC " : " UTC ");
  line.Int(fix.utcHours, 2).Add(':').Int(fix.utcMinutes, 2).Add(':').Int(fix.utcSeconds, 2);
  line.Add(" -->");
}

void WriteTrackCoordinates(TextOutFile& out, int availableBytes, TrackModel* decoded) {
  // Address 0 picks the line form for the whole file; decoding never changes it.
  const bool negativeAltitude = FlashImage[0] == 253;
  if (decoded != nullptr) {
    decoded->negativeAltitude = negativeAltitude;
    decoded->fixes.clear();
    decoded->fixes.reserve(
        static_cast<size_t>(std::max(LogMemoryGeometry.decodeLimit, 0) / TrackRecord::kSize + 1));
  }
  TrackText line;
  line.Reserve(160);
  bool firstLine = true;
  DecodeFixes(FlashImage, kFlashImageSize, availableBytes, LogMemoryGeometry.decodeLimit,
              [&](const TrackFix& fix) {
                line.Clear();
                if (!firstLine) line.Add('\n');
                // Cleared in the image itself: the dump written later shows
                // them so. The fix holds the signs as they were.
                FlashImage[fix.offset + TrackRecord::lonTenThousandths] &= 0x7F;
                FlashImage[fix.offset + TrackRecord::latTenThousandths] &= 0x7F;
                AppendKmlLine(line, fix, negativeAltitude);
                out.Write(line.Text().data(), line.Text().size());
                if (decoded != nullptr) decoded->fixes.push_back(fix);
                firstLine = false;
              });
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

int64_t MemoryDumpBytes(int availableBytes) {
  return std::min<int64_t>(
      {int64_t{LogMemoryGeometry.sizeCode} * 1024 / 8, kFlashImageSize, availableBytes});
}

void WriteMemoryDump(TextOutFile& out, int availableBytes) {
  out.Write("<!-- KLXDATA\n");
  const int64_t bytes = MemoryDumpBytes(availableBytes);
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

void WriteDownloadStamp(TextOutFile& out, const DownloadStamp& stamp) {
  const std::string line = DownloadStampLine(stamp);
  out.Write(line.data(), line.size());
}
