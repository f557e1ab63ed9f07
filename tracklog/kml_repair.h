// The KML repair: copies a KML file line by line, taking the blank out of
// every ", " and the comma out of every ">,", so coordinate tuples written
// with blanks become bare comma-separated numbers.
#pragma once

#include <string>

// The longest piece one read takes: a longer line is repaired piece by piece.
constexpr int kRepairPieceSize = 127;

// Every ", " becomes ",", then every ">," becomes ">"; each pass goes on
// scanning behind what it put in.
std::string RepairKmlPiece(const std::string& piece);
