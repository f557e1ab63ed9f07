#include <mutex>
#include <optional>

#include "platform/os/os.h"

namespace platform {

std::string NativeCommandLine();  // os_<platform>.cpp

namespace {
std::mutex lineMutex;
std::optional<std::string> replacedLine;
}  // namespace

std::string CommandLine() {
  {
    std::lock_guard<std::mutex> lock(lineMutex);
    if (replacedLine) return *replacedLine;
  }
  return NativeCommandLine();
}

void SetCommandLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(lineMutex);
  replacedLine = line;
}

}  // namespace platform
