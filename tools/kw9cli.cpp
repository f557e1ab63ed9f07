// kw9cli: the main window without a screen. It runs the very same dialog on
// the scripted backend, types into its fields what the options say, presses
// the button a user would press, and reports what the window then holds.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/data_exchange.h"
#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "platform/os/os.h"
#include "platform/ui/scripted/scripted_backend.h"

namespace {

constexpr const char* kUsage =
    "usage: kw9cli COMMAND [options]\n"
    "Runs kw9's main window without a screen: types the given values into its\n"
    "fields as a user would, presses the command's button, and reports.\n"
    "\n"
    "Commands:\n"
    "  ports                                list the serial ports that exist\n"
    "  read   --port NAME [--calibration]   press Read\n"
    "  write  --port NAME [--calibration] [fields]\n"
    "                                       press Read, set the fields, press Write\n"
    "  update --port NAME [fields]          in calibration mode: press Read, set the\n"
    "                                       fields, press Update\n"
    "\n"
    "Fields (the text to type; check boxes take 0 or 1):\n"
    "  --store-interval N       --transmit-interval N    --transmit-slot N\n"
    "  --shutdown-voltage VOLTS --wrap-memory 0|1        --low-voltage-shutdown 0|1\n"
    "  --enable-data-logging 0|1  --meters-to-feet 0|1   --enable-nmea 0|1\n"
    "  --enable-tx-sentence 0|1\n"
    "  shown in calibration mode only (update, or write --calibration):\n"
    "  --serial-number N  --radio-hp TEXT  --radio-id TEXT  --radio-mk TEXT\n"
    "  --radio-dt TEXT    --radio-ro TEXT  --radio-rn TEXT  --radio-rr TEXT\n"
    "\n"
    "NAME is a COM name (COM1) or, on Linux, a device path (/dev/ttyUSB0,\n"
    "/dev/pts/3). On Linux COMn is the n-th existing port: real ttyS ports first,\n"
    "then ttyUSB, then ttyACM, each by number.\n"
    "\n"
    "write and update stop after Read when the Read does not complete.\n"
    "\n"
    "Standard output: after the operation, one member=value line for each value\n"
    "of the window, in the window's exchange order, with values escaped as on\n"
    "standard error so that each stays on its line (ports: one name per line).\n"
    "Standard error: every message box in order, one line each, \"kw9: \" and its\n"
    "text with backslash, CR, LF and TAB written as \\\\, \\r, \\n and \\t.\n"
    "\n"
    "Exit status: 0 when the operation completed with no message but its own\n"
    "notices (\"Calibration Mode Enabled\", \"Committing Data\"), 1 when another\n"
    "message was shown or the operation did not complete, 2 for a usage error.\n";

struct Field {
  const char* option;
  int control;
  bool check;
};

constexpr Field kFields[] = {
    {"--store-interval", 1024, false},     {"--transmit-interval", 1027, false},
    {"--transmit-slot", 1047, false},      {"--shutdown-voltage", 1034, false},
    {"--wrap-memory", 1020, true},         {"--low-voltage-shutdown", 1035, true},
    {"--enable-data-logging", 1036, true}, {"--meters-to-feet", 1037, true},
    {"--enable-nmea", 1022, true},         {"--enable-tx-sentence", 1023, true},
    {"--serial-number", 1009, false},      {"--radio-hp", 1017, false},
    {"--radio-id", 1018, false},           {"--radio-mk", 1019, false},
    {"--radio-dt", 1028, false},           {"--radio-ro", 1025, false},
    {"--radio-rn", 1029, false},           {"--radio-rr", 1030, false},
};

// Messages that report the operation's own progress, not a problem.
const char* const kNotices[] = {"Calibration Mode Enabled\n", "Committing Data\n"};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "kw9cli: %s\n(kw9cli --help shows the options)\n", problem.c_str());
  return 2;
}

const Field* FindField(const std::string& option) {
  for (const Field& f : kFields) {
    if (option == f.option) return &f;
  }
  return nullptr;
}

struct Request {
  std::string command;
  std::string port;
  bool calibration = false;
  std::vector<std::pair<const Field*, std::string>> fields;  // in the order given
};

}  // namespace

int main(int argc, char** argv) {
  Request request;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (request.command.empty() && arg.rfind("--", 0) != 0) {
      request.command = arg;
      continue;
    }
    if (arg == "--calibration") {
      request.calibration = true;
      continue;
    }
    const Field* field = FindField(arg);
    if (arg != "--port" && field == nullptr) return Usage("unknown option " + arg);
    if (i + 1 >= argc) return Usage(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--port") {
      request.port = value;
      continue;
    }
    if (field->check && value != "0" && value != "1") return Usage(arg + " takes 0 or 1");
    request.fields.emplace_back(field, value);
  }
  const std::string& command = request.command;
  if (command != "ports" && command != "read" && command != "write" && command != "update") {
    return Usage(command.empty() ? "no command given" : "unknown command " + command);
  }
  if (command != "ports" && request.port.empty()) return Usage(command + " needs --port NAME");
  if ((command == "ports" || command == "read") && !request.fields.empty()) {
    return Usage(command + " takes no field options");
  }
  if (command == "ports" && (request.calibration || !request.port.empty())) {
    return Usage("ports takes no options");
  }
  if (command == "update") request.calibration = true;

  ui::ScriptedBackend backend;
  ui::UseBackend(&backend);
  platform::SetCommandLine(request.calibration ? "kw9cli -tamsk" : "kw9cli");
  std::atomic<bool> otherMessage{false};  // a worker may show a message too
  backend.OnMessage([&](const ui::MessageRecord& m) {
    std::fprintf(stderr, "kw9: %s\n", Escaped(m.text).c_str());
    std::fflush(stderr);
    bool notice = false;
    for (const char* n : kNotices) notice = notice || m.text == n;
    if (!notice) otherMessage = true;
  });

  CTrackerDlg dialog;
  ui::SetMainWindow(&dialog);
  std::string usageProblem;
  bool completed = false;
  std::vector<std::string> ports;
  backend.SetScript(IDD_TRACKER_DIALOG, [&](ui::ScriptedWindow& window) {
    if (command == "ports") {
      window.DropDown(1013);
      ports = window.Items(1013);
      completed = true;
      return;
    }
    for (const auto& [field, value] : request.fields) {
      if (!window.Visible(field->control)) {
        usageProblem = std::string(field->option) +
                       ": that field is shown in calibration mode only (update, or "
                       "write --calibration)";
        return;
      }
    }
    window.Type(1013, request.port);
    window.Click(1000);
    if (dialog.statusText != "Read Complete") return;
    if (command == "read") {
      completed = true;
      return;
    }
    for (const auto& [field, value] : request.fields) {
      if (field->check) {
        if (window.Check(field->control) != (value == "1")) window.Click(field->control);
      } else {
        window.Type(field->control, value);
      }
    }
    if (command == "write") {
      window.Click(1001);
      completed = dialog.statusText == "Write Complete";
    } else {
      window.Click(1002);
      completed = true;  // Update reports trouble only by its messages
    }
  });
  dialog.DoModal();
  ui::SetMainWindow(nullptr);
  ui::UseBackend(nullptr);
  if (!usageProblem.empty()) return Usage(usageProblem);

  if (command == "ports") {
    for (const std::string& name : ports) std::printf("%s\n", name.c_str());
  } else {
    for (size_t row = 1; row < kBindings.size(); ++row) {
      const Binding& b = kBindings[row];
      std::printf("%s=%s\n", b.member, Escaped(BoundValue(dialog, b)).c_str());
    }
  }
  std::fflush(stdout);
  return completed && !otherMessage ? 0 : 1;
}
