#include "app/file_checks.h"

#include "platform/os/os.h"
#include "platform/serial/serial.h"

namespace {

// The device the port field names: a path as typed, or a listed port's device.
std::string PortDevice(const std::string& port) {
  for (const platform::PortInfo& p : platform::Serial().ListPorts()) {
    if (p.name == port) return p.devicePath;
  }
  return port;
}

}  // namespace

std::string OutputRefusal(const std::string& path, const std::string& port) {
  using platform::PathKind;
  const PathKind kind = platform::KindOfPath(path);
  // A port is never a file, a folder or the discard: those need no look at it.
  if (kind != PathKind::kTerminal && kind != PathKind::kPipe && kind != PathKind::kDevice) {
    return "";
  }
  if (!port.empty() &&
      (platform::SamePath(path, port) || platform::SamePath(path, PortDevice(port)))) {
    return path + " is the tracker's port" + (path == port ? "" : " " + port) +
           ", not a file: not written";
  }
  if (kind == PathKind::kTerminal) {
    return path + " is a terminal or serial device, not a file: not written";
  }
  if (kind == PathKind::kPipe) return path + " is a pipe or socket, not a file: not written";
  return "";
}

std::string FolderRefusal(const std::string& path) {
  const std::string folder = platform::Utf8(platform::NamePath(path).parent_path());
  if (folder.empty() || platform::KindOfPath(folder) == platform::PathKind::kFolder) return "";
  return "the folder of " + path + " does not exist: not written";
}

std::string InputRefusal(const std::string& path) {
  switch (platform::KindOfPath(path)) {
    case platform::PathKind::kMissing:
    case platform::PathKind::kFile:
      return "";
    case platform::PathKind::kFolder:
      return path + " is a folder, not a file: not read";
    case platform::PathKind::kPipe:
      return path + " is a pipe or socket, not a file: not read";
    case platform::PathKind::kTerminal:
      return path + " is a terminal or serial device, not a file: not read";
    case platform::PathKind::kDiscard:
    case platform::PathKind::kDevice:
      break;
  }
  return path + " is a device, not a file: not read";
}
