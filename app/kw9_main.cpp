// kw9: the tool's window on the desktop's own backend.
#include "app/tracker_dlg.h"
#include "platform/ui/native_backend.h"

namespace {
// The one application object, made before the program's main routine runs.
CTrackerApp theApp;
}  // namespace

int main() {
  ui::UseBackend(&ui::NativeBackend());
  return AfxWinMain();
}
