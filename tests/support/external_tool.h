// Runs a program of the machine (a KML reader, xmllint) through the shell and
// keeps what it printed. POSIX only.
#pragma once

#include <string>

namespace testing_support {

struct ToolRun {
  std::string output;  // its standard output
  int status;          // as pclose gives it; -1 when it did not start
};

ToolRun RunTool(const std::string& command);

// True when the shell finds a program of that name.
bool HaveTool(const std::string& name);

}  // namespace testing_support
