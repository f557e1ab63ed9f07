// kw9: the tool's window on the desktop's own backend.
#include <cstdio>
#include <string_view>

#include "app/tracker_dlg.h"
#include "app/window_state.h"
#include "kw9_version.h"
#include "platform/os/os.h"
#include "platform/ui/native_backend.h"

namespace {
// The one application object, made before the program's main routine runs.
CTrackerApp theApp;

// kw9 --help; the manual page kw9(1) is made from this text at build time.
constexpr const char* kUsage =
    "usage: kw9 [-tamsk]\n"
    "       kw9 --help | --version\n"
    "Opens kw9's window, which sets up a battery-powered GPS tracking transmitter\n"
    "over a serial port: it reads the tracker's settings and radio parameters,\n"
    "writes them back, downloads the log memory as a KML track, erases it,\n"
    "repairs KML files and runs the factory tests.\n"
    "\n"
    "Options:\n"
    "  -tamsk    calibration mode: the window also shows the serial number, the\n"
    "            radio parameters and Update. It counts only as the second word of\n"
    "            the command line, right after the program's name.\n"
    "  --help    print this text and exit\n"
    "  --version print kw9's version and exit\n"
    "\n"
    "The port:\n"
    "Type or pick it in \"Com Port\". A short name such as ttyUSB0 is /dev/ttyUSB0;\n"
    "a name that starts with / is that device (/dev/pts/3); COMn is the n-th\n"
    "serial port that exists: real ttyS ports first, then ttyUSB, then ttyACM.\n"
    "When the port does not open, the message says why under its first line.\n"
    "\n"
    "Without a screen:\n"
    "kw9cli runs this window from the command line, for scripts and headless\n"
    "machines. It is installed beside kw9 (in a build tree: cli/kw9cli);\n"
    "kw9cli --help lists its commands.\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed\n"
    "  1  no desktop display was found, or --help or --version could not write\n"
    "     its text\n"
    "\n"
    "Environment:\n"
    "  DISPLAY, WAYLAND_DISPLAY\n"
    "                   on Linux, the desktop the window opens on; with neither\n"
    "                   set (nor QT_QPA_PLATFORM), kw9 says so and exits 1\n"
    "  QT_QPA_PLATFORM  the window system to use instead (offscreen, vnc, ...)\n"
    "  XDG_CONFIG_HOME  the folder of the settings file (~/.config without it)\n"
    "\n"
    "Files:\n"
    "  ~/.config/kw9/settings\n"
    "                   on Linux, what the window keeps between runs, as\n"
    "                   NAME=TEXT lines: the port of the last Read that completed\n"
    "                   and the folders last chosen in its file dialogs; on\n"
    "                   Windows the registry key HKEY_CURRENT_USER\\Software\\kw9\n"
    "                   holds them\n"
    "\n"
    "Examples:\n"
    "  kw9\n"
    "  kw9 -tamsk\n";

// The text a switch prints instead of opening the window, or null.
const char* SwitchAnswer(std::string_view word) {
  if (word == "--help" || word == "-h") return kUsage;
  if (word == "--version") return "kw9 " KW9_VERSION "\n";
  return nullptr;
}
}  // namespace

int main(int argc, char** argv) {
  // The window program alone keeps the port and folders between runs.
  TheWindowState.keepsUserSettings = true;
  // Answered before any window exists, so it works without a display; a
  // Windows program started with no console nor redirection opens its window.
  const char* answer = argc > 1 ? SwitchAnswer(argv[1]) : nullptr;
  if (answer != nullptr && platform::WindowProgramHasConsole()) {
    std::fputs(answer, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  // A terminal without a desktop (an SSH session, a server): say where the
  // same operations are, rather than let the desktop library abort.
  if (!ui::NativeDisplayFound()) {
    std::fputs("kw9: no desktop display found; kw9cli runs the same operations from a terminal.\n",
               stderr);
    return 1;
  }
  // Told to end (SIGTERM or SIGHUP when the session ends, Ctrl-C in the
  // terminal that started it): the window keeps what a download has brought,
  // as at a log-out that cannot wait, and then ends. A second signal ends it
  // at once.
  platform::CatchInterrupts();
  ui::UseBackend(&ui::NativeBackend());
  const int status = AfxWinMain();
  ui::UseBackend(nullptr);
  ui::EndNativeBackend();
  return status;
}
