// trackersim: the simulated tracker on a pseudo-terminal. Prints the device
// path as its first line, then serves until SIGINT or SIGTERM, or until the
// line drops (the drop fault).
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "sim/pty_transport.h"

namespace {

constexpr const char* kUsage =
    "usage: trackersim [options]\n"
    "Serves a simulated tracker on a pseudo-terminal; prints its device path first.\n"
    "  --size 64|128|1024       log memory size in kbit (default 1024)\n"
    "  --image FILE             log memory contents, raw bytes (default: a built-in track)\n"
    "  --model TEXT             model line (default KLX-TX3)\n"
    "  --version N              firmware version (default 20)\n"
    "  --serial N               serial number, 0 to 65535 (default 2417): settings bytes\n"
    "                           128 and 129 and the ID string's four digits\n"
    "  --pace                   hold both directions to 9600 baud, 8N1\n"
    "  --silent-after CMD:N     fall silent from the N-th CMD on\n"
    "  --drop-after CMD:N       drop the line at the N-th CMD\n"
    "  --short-block-after CMD:N  half replies to block reads from the N-th CMD on\n"
    "  --garbage-after CMD:N    answer the N-th CMD with bytes that hold no line end\n"
    "  --noise-before CMD:N     send 3 bytes of noise ahead of the N-th CMD's reply\n"
    "  --noise-after CMD:N      send 3 bytes of noise behind the N-th CMD's reply\n"
    "  --late-after CMD:N       answer the N-th CMD late (see --late-ms)\n"
    "  --late-ms N              how late, in milliseconds (default 6000)\n"
    "  --byte-gap-ms N          send every byte N ms after the one before (a slow line)\n"
    "  --ok-to-everything       answer every command \"OK\": a device that is no tracker\n"
    "  --ping-answer TEXT       answer every ? with TEXT instead of OK\n"
    "  --ignore-write N         acknowledge the N-th settings write (Y) but keep the old byte\n"
    "  --crlf                   end lines CR LF instead of LF CR\n"
    "  --overlong               send 70 characters of text in every line\n"
    "  --erase-ms N             how long the erase answer takes (default 1500)\n"
    "  --transcript FILE        write the bytes received to FILE at the end\n"
    "  --help                   show this text\n"
    "CMD is one command character, or \"any\" for commands of every kind.\n";

int wakePipe[2] = {-1, -1};

void OnSignal(int) {
  const char b = 's';
  const int saved = errno;
  [[maybe_unused]] ssize_t w = write(wakePipe[1], &b, 1);
  errno = saved;
}

bool ParseInt(const std::string& text, int& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v < 0 || v > 1000000000) return false;
  value = static_cast<int>(v);
  return true;
}

// "J:3" or "any:5".
bool ParseTrigger(const std::string& text, sim::Trigger& trigger) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string command = text.substr(0, colon);
  if (command == "any") {
    trigger.command = 0;
  } else if (command.size() == 1) {
    trigger.command = command[0];
  } else {
    return false;
  }
  return ParseInt(text.substr(colon + 1), trigger.count) && trigger.count >= 1;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "trackersim: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sim::Config config;
  std::string imagePath;
  std::string transcriptPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    const std::string value = hasValue ? argv[i + 1] : "";
    auto needsValue = [&] {
      return arg != "--pace" && arg != "--crlf" && arg != "--overlong" &&
             arg != "--ok-to-everything";
    };
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (needsValue()) {
      if (!hasValue) return Usage(arg + " needs a value");
      ++i;
    }
    bool ok = true;
    if (arg == "--size") {
      ok = ParseInt(value, config.sizeKbit) &&
           (config.sizeKbit == 64 || config.sizeKbit == 128 || config.sizeKbit == 1024);
    } else if (arg == "--image") {
      imagePath = value;
    } else if (arg == "--model") {
      config.model = value;
    } else if (arg == "--version") {
      ok = ParseInt(value, config.version);
    } else if (arg == "--serial") {
      int serial = 0;
      ok = ParseInt(value, serial) && serial <= 65535;
      config.serialNumber = static_cast<uint16_t>(serial);
    } else if (arg == "--pace") {
      config.pace = true;
    } else if (arg == "--silent-after") {
      ok = ParseTrigger(value, config.faults.silent);
    } else if (arg == "--drop-after") {
      ok = ParseTrigger(value, config.faults.drop);
    } else if (arg == "--short-block-after") {
      ok = ParseTrigger(value, config.faults.shortBlock);
    } else if (arg == "--garbage-after") {
      ok = ParseTrigger(value, config.faults.garbage);
    } else if (arg == "--noise-before") {
      ok = ParseTrigger(value, config.faults.noiseBefore);
    } else if (arg == "--noise-after") {
      ok = ParseTrigger(value, config.faults.noiseAfter);
    } else if (arg == "--late-after") {
      ok = ParseTrigger(value, config.faults.late);
    } else if (arg == "--late-ms") {
      ok = ParseInt(value, config.faults.lateMs);
    } else if (arg == "--byte-gap-ms") {
      ok = ParseInt(value, config.faults.byteGapMs);
    } else if (arg == "--ping-answer") {
      config.faults.pingAnswer = value;
    } else if (arg == "--ignore-write") {
      config.faults.ignoreWrite.command = 'Y';
      ok = ParseInt(value, config.faults.ignoreWrite.count) && config.faults.ignoreWrite.count >= 1;
    } else if (arg == "--ok-to-everything") {
      config.faults.okToEverything = true;
    } else if (arg == "--crlf") {
      config.faults.crlf = true;
    } else if (arg == "--overlong") {
      config.faults.overlong = true;
    } else if (arg == "--erase-ms") {
      ok = ParseInt(value, config.faults.eraseMs);
    } else if (arg == "--transcript") {
      transcriptPath = value;
    } else {
      return Usage("unknown option " + arg);
    }
    if (!ok) return Usage("bad value for " + arg + ": " + value);
  }
  if (!imagePath.empty()) {
    if (!ReadFile(imagePath, config.image)) return Usage("cannot read " + imagePath);
    if (config.image.size() > static_cast<size_t>(config.sizeKbit) * 128) {
      return Usage(imagePath + " is larger than the log memory");
    }
  }

  if (pipe(wakePipe) != 0) {
    std::perror("trackersim: pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  sim::PtyTransport pty;
  pty.OnDrop([] {
    const char b = 'd';
    [[maybe_unused]] ssize_t w = write(wakePipe[1], &b, 1);
  });
  if (!pty.Start(std::move(config))) {
    std::fprintf(stderr, "trackersim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  std::printf("%s\n", pty.DevicePath().c_str());
  std::fflush(stdout);

  pollfd fd{wakePipe[0], POLLIN, 0};
  while (poll(&fd, 1, -1) < 0 && errno == EINTR) {
  }
  pty.Stop();

  if (!transcriptPath.empty()) {
    bool ok = false;
    pty.WithTracker([&](sim::Tracker& t) { ok = WriteFile(transcriptPath, t.Transcript()); });
    if (!ok) {
      std::fprintf(stderr, "trackersim: cannot write %s\n", transcriptPath.c_str());
      return 1;
    }
  }
  return 0;
}
