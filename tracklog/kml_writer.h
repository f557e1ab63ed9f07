// The KML track file a log download produces: a fixed header, one coordinate
// line per stored fix (its details in an XML comment), a fixed footer, and a
// hex dump of the log memory in a trailing comment. The writers do not look at
// write results; a failed write stays visible in the file's Failed() flag.
#pragma once

#include "platform/os/text_file.h"
#include "tracklog/download_stamp.h"
#include "tracklog/flash_image.h"
#include "tracklog/track_model.h"
#include "tracklog/track_text.h"

// The file dialogs' filter for KML files.
inline constexpr char kKmlFileFilter[] = "KML Files (*.kml)|*.kml|All Files (*.*)|*.*||";

// The 15 lines up to and including "<coordinates>".
void WriteKmlHeader(platform::TextOutFile& out);

// One line per fix record of FlashImage below LogMemoryGeometry.decodeLimit,
// up to the first end marker; no line end after the last one. A record whose
// longitude degrees are 0 or above 180, or whose latitude degrees are above
// 90, is no fix and writes nothing. Clears bit 7 of
// bytes 3 and 7 (the sign flags) of every record it writes, in the image.
// Only records wholly within the first availableBytes of the image count (a
// download that stopped early has no more). When decoded is given, it gets
// the fixes written, with their signs as the records held them before the
// flags were cleared.
void WriteTrackCoordinates(platform::TextOutFile& out);
void WriteTrackCoordinates(platform::TextOutFile& out, int availableBytes,
                           TrackModel* decoded = nullptr);

// One coordinate line without its line end, in the form negativeAltitude
// picks: the fix's position, altitude bytes, offset, satellites and time.
void AppendKmlLine(TrackText& line, const TrackFix& fix, bool negativeAltitude);

// Closes the last coordinate line and the document.
void WriteKmlFooter(platform::TextOutFile& out);

// How many bytes of the image the memory dump shows: the memory size names
// them, no more than arrived.
int64_t MemoryDumpBytes(int availableBytes);

// LogMemoryGeometry.sizeCode * 128 bytes of FlashImage as "%02X " items, 16 a
// line, inside "<!-- KLXDATA" ... "-->"; no more than availableBytes.
void WriteMemoryDump(platform::TextOutFile& out);
void WriteMemoryDump(platform::TextOutFile& out, int availableBytes);

// After the dump, the download's stamp line (download_stamp.h): when it
// ended, which tracker, and for a download that read only part of the memory
// which bytes. Readers of the dump stop at its "-->" and pass over it.
void WriteDownloadStamp(platform::TextOutFile& out, const DownloadStamp& stamp);
