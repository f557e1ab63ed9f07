// kw9cli: the main window without a screen. It runs the very same dialog on
// the scripted backend, types into its fields what the options say, presses
// the button a user would press, and reports what the window then holds.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/data_exchange.h"
#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "platform/os/os.h"
#include "platform/ui/scripted/scripted_backend.h"
#include "tracklog/log_download.h"

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
    "  download --port NAME --output FILE   press Read, then Read Flash, and save the\n"
    "                                       log as FILE (replaced if it exists)\n"
    "  erase --port NAME [--yes]            press Read, then Clear Flash; only --yes\n"
    "                                       answers CLEAR, else Cancel is pressed\n"
    "  flash-test --port NAME               press Read, then Flash Test (it overwrites\n"
    "                                       log memory bytes 0 to 15)\n"
    "  go --port NAME                       press Read, then Go!\n"
    "  fix-kml INPUT OUTPUT                 press Fix KML and choose the two files\n"
    "                                       (the same name repairs it in place)\n"
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
    "The commands that press Read first stop there when the Read does not\n"
    "complete: the window takes the port from it.\n"
    "\n"
    "Standard output: after the operation, one member=value line for each value\n"
    "of the window, in the window's exchange order, with values escaped as on\n"
    "standard error so that each stays on its line (ports: one name per line).\n"
    "Standard error: every message box in order, one line each, \"kw9: \" and its\n"
    "text with backslash, CR, LF and TAB written as \\\\, \\r, \\n and \\t.\n"
    "\n"
    "While download or erase runs and standard error is a terminal, a progress\n"
    "bar there follows the window's.\n"
    "\n"
    "Exit status: 0 when the operation completed with no message but its own\n"
    "notices (\"Calibration Mode Enabled\", \"Committing Data\", \"Done Reading\n"
    "Flash\", \"Done Clearing Flash\", \"I2C Read Test Passed\", \"First select an\n"
    "input file\", \"Now select an output file\", \"KML file fixed\"), 1 when\n"
    "another message was shown or the operation did not complete, 2 for a usage\n"
    "error.\n";

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
const char* const kNotices[] = {"Calibration Mode Enabled\n", "Committing Data\n",
                                "Done Reading Flash",         "Done Clearing Flash",
                                "I2C Read Test Passed",       "First select an input file",
                                "Now select an output file",  "KML file fixed"};

// The message that says each command's operation completed.
struct Completion {
  const char* command;
  int button;
  const char* message;  // nullptr: judged otherwise
};
constexpr Completion kLogCommands[] = {
    {"download", 1003, "Done Reading Flash"},     {"erase", 1004, "Done Clearing Flash"},
    {"flash-test", 1049, "I2C Read Test Passed"}, {"go", 1039, nullptr},
    {"fix-kml", 1055, "KML file fixed"},
};

const Completion* FindLogCommand(const std::string& command) {
  for (const Completion& c : kLogCommands) {
    if (command == c.command) return &c;
  }
  return nullptr;
}

// A one-line progress bar on standard error, redrawn in place.
class ProgressLine {
 public:
  void Draw(const ui::ProgressState& p, const std::string& label) {
    const int span = p.upper > p.lower ? p.upper - p.lower : 1;
    const int filled = (p.position - p.lower) * kWidth / span;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %s", bar, label.c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  // Before any other line goes to standard error.
  void Clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  static constexpr int kWidth = 40;
  bool shown_ = false;
};

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
  std::string output;
  std::vector<std::string> files;  // fix-kml's INPUT and OUTPUT
  bool calibration = false;
  bool yes = false;
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
    if (request.command == "fix-kml" && arg.rfind("--", 0) != 0) {
      request.files.push_back(arg);
      continue;
    }
    if (arg == "--calibration") {
      request.calibration = true;
      continue;
    }
    if (arg == "--yes") {
      request.yes = true;
      continue;
    }
    const Field* field = FindField(arg);
    if (arg != "--port" && arg != "--output" && field == nullptr) {
      return Usage("unknown option " + arg);
    }
    if (i + 1 >= argc) return Usage(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--port") {
      request.port = value;
      continue;
    }
    if (arg == "--output") {
      request.output = value;
      continue;
    }
    if (field->check && value != "0" && value != "1") return Usage(arg + " takes 0 or 1");
    request.fields.emplace_back(field, value);
  }
  const std::string& command = request.command;
  const Completion* logCommand = FindLogCommand(command);
  if (command != "ports" && command != "read" && command != "write" && command != "update" &&
      logCommand == nullptr) {
    return Usage(command.empty() ? "no command given" : "unknown command " + command);
  }
  const bool fixKml = command == "fix-kml";
  if (fixKml) {
    if (request.files.size() != 2) return Usage("fix-kml needs INPUT and OUTPUT");
    if (!request.port.empty()) return Usage("fix-kml takes no --port");
  } else if (command != "ports" && request.port.empty()) {
    return Usage(command + " needs --port NAME");
  }
  if (command == "download" && request.output.empty()) return Usage("download needs --output FILE");
  if (command != "download" && !request.output.empty())
    return Usage(command + " takes no --output");
  if (command != "erase" && request.yes) return Usage(command + " takes no --yes");
  if ((command == "ports" || command == "read" || logCommand != nullptr) &&
      !request.fields.empty()) {
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
  std::atomic<bool> completionSeen{false};
  ProgressLine progressLine;
  std::mutex stderrLock;  // the worker's messages and the bar share the line
  backend.OnMessage([&](const ui::MessageRecord& m) {
    std::lock_guard<std::mutex> lock(stderrLock);
    progressLine.Clear();
    std::fprintf(stderr, "kw9: %s\n", Escaped(m.text).c_str());
    std::fflush(stderr);
    bool notice = false;
    for (const char* n : kNotices) notice = notice || m.text == n;
    if (!notice) otherMessage = true;
    if (logCommand != nullptr && logCommand->message != nullptr && m.text == logCommand->message) {
      completionSeen = true;
    }
  });

  CTrackerDlg dialog;
  if (platform::StandardErrorIsTerminal()) {
    backend.OnProgress([&](int, const ui::ProgressState& state) {
      std::lock_guard<std::mutex> lock(stderrLock);
      // Runs on the window's thread, where the label's text lives.
      progressLine.Draw(state, command == "download" ? dialog.percentLabel + " %" : "");
    });
  }
  // The command line stands in for the user's choices in the file dialogs
  // and the erase confirmation.
  backend.AnswerFileDialogs([&](const ui::FileDialogRequest& r) -> std::optional<std::string> {
    if (fixKml) return r.open ? request.files[0] : request.files[1];
    return request.output;
  });
  backend.SetScript(IDD_CLEAR_FLASH, [&](ui::ScriptedWindow& window) {
    window.Click(request.yes ? IDOK : IDCANCEL);
  });
  ui::SetMainWindow(&dialog);
  std::string usageProblem;
  bool completed = false;
  bool notCleared = false;
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
    if (fixKml) {
      window.Click(logCommand->button);
      completed = completionSeen;
      return;
    }
    window.Type(1013, request.port);
    window.Click(1000);
    if (dialog.statusText != "Read Complete") return;
    if (command == "read") {
      completed = true;
      return;
    }
    if (logCommand != nullptr) {
      window.Click(logCommand->button);
      // A worker runs on: wait until it is done, as the user would.
      backend.PumpUntil([] { return workerBusy == 0; });
      completed = logCommand->message != nullptr
                      ? completionSeen.load()
                      : dialog.statusText == "TX running, Enter a command to stop";
      if (command == "erase" && !request.yes) notCleared = true;
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
  progressLine.Clear();
  if (notCleared) std::fputs("kw9cli: not erased: only --yes answers CLEAR\n", stderr);

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
