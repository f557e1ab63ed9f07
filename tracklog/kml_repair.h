// The KML repair: copies a KML file line by line, taking the blank out of
// every ", " and the comma out of every ">,", so coordinate tuples written
// with blanks become bare comma-separated numbers.
#pragma once

#include <string>

// Every ", " becomes ",", then every ">," becomes ">"; each pass goes on
// scanning behind what it put in. Applied to whole lines, however long, so
// that nothing escapes by straddling two reads.
std::string RepairKmlLine(const std::string& line);
