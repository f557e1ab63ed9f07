#include "tests/support/external_tool.h"

#include <cstdio>

namespace testing_support {

ToolRun RunTool(const std::string& command) {
  ToolRun run{"", -1};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.output.append(buf, n);
  run.status = pclose(pipe);
  return run;
}

bool HaveTool(const std::string& name) {
  return RunTool("command -v " + name + " >/dev/null 2>&1").status == 0;
}

}  // namespace testing_support
