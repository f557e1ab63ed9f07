// The log download against the simulated tracker at the real line speed: how
// close it comes to the line's own time, what CPU it burns while it waits,
// and whether it allocates or grows per block. Linux only (it starts
// trackersim on a pseudo-terminal).
//
//   download_benchmark [--trackersim PATH] [--sizes 64,128,1024]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "platform/os/os.h"
#include "platform/ui/scripted/scripted_backend.h"
#include "tracklog/log_download.h"

extern char** environ;

namespace {

// Every allocation of the process is counted, so the download's own show up.
std::atomic<long> allocations{0};

// 10 bits a byte at 9600 baud, and the pause between command and address.
constexpr double kByteSeconds = 10.0 / 9600.0;
constexpr double kPauseSeconds = 0.001;

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Each time a thread of ours gives up the CPU to wait: the cost of waiting.
long WakeUps() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

struct Simulator {
  pid_t pid = -1;
  std::string device;
};

Simulator StartSimulator(const std::string& program, int sizeKbit, const std::string& outPath) {
  Simulator sim;
  std::remove(outPath.c_str());
  const std::string size = std::to_string(sizeKbit);
  const char* argv[] = {program.c_str(), "--pace", "--size", size.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (posix_spawn(&sim.pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv),
                  environ) != 0) {
    sim.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; i < 100 && sim.pid > 0 && sim.device.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (std::FILE* f = std::fopen(outPath.c_str(), "r")) {
      char line[256] = {};
      if (std::fgets(line, sizeof line, f) != nullptr) {
        sim.device = line;
        while (!sim.device.empty() && (sim.device.back() == '\n' || sim.device.back() == '\r')) {
          sim.device.pop_back();
        }
      }
      std::fclose(f);
    }
  }
  return sim;
}

void StopSimulator(Simulator& sim) {
  if (sim.pid <= 0) return;
  kill(sim.pid, SIGTERM);
  waitpid(sim.pid, nullptr, 0);
  sim.pid = -1;
}

struct Figures {
  bool ok = false;
  std::string message;
  double elapsed = 0, cpu = 0;
  long allocations = 0, rssBeforeKb = 0, rssAfterKb = 0, wakeUps = 0;
};

// Presses Read (which names the port), then times Read Flash alone.
Figures Download(const std::string& device, const std::string& output) {
  Figures f;
  ui::ScriptedBackend backend;
  ui::UseBackend(&backend);
  backend.OnMessage([&](const ui::MessageRecord& m) { f.message = m.text; });
  backend.AnswerFileDialogs([&](const ui::FileDialogRequest&) { return std::optional(output); });
  CTrackerDlg dialog;
  ui::SetMainWindow(&dialog);
  backend.SetScript(IDD_TRACKER_DIALOG, [&](ui::ScriptedWindow& window) {
    window.Type(1013, device);
    window.Click(1000);
    if (dialog.statusText != "Read Complete") {
      f.message = "Read did not complete: " + f.message;
      return;
    }
    f.rssBeforeKb = PeakRssKb();
    const long allocationsBefore = allocations.load();
    const long wakeUpsBefore = WakeUps();
    const int64_t cpuBefore = platform::ProcessCpuMicros();
    const int64_t start = platform::MonotonicMicros();
    window.Click(1003);
    backend.PumpUntil([] { return workerBusy == 0; });
    f.elapsed = static_cast<double>(platform::MonotonicMicros() - start) / 1e6;
    f.cpu = static_cast<double>(platform::ProcessCpuMicros() - cpuBefore) / 1e6;
    f.allocations = allocations.load() - allocationsBefore;
    f.wakeUps = WakeUps() - wakeUpsBefore;
    f.rssAfterKb = PeakRssKb();
    f.ok = f.message == "Done Reading Flash";
  });
  dialog.DoModal();
  ui::SetMainWindow(nullptr);
  ui::UseBackend(nullptr);
  return f;
}

std::string BesideThisProgram(const char* argv0, const std::string& name) {
  const std::string self = argv0;
  const size_t slash = self.rfind('/');
  return slash == std::string::npos ? name : self.substr(0, slash + 1) + name;
}

}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

int main(int argc, char** argv) {
  std::string trackersim = BesideThisProgram(argv[0], "trackersim");
  std::vector<int> sizes = {64, 128, 1024};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--trackersim") {
      trackersim = argv[i + 1];
    } else if (arg == "--sizes") {
      sizes.clear();
      std::stringstream list(argv[i + 1]);
      for (std::string item; std::getline(list, item, ',');)
        sizes.push_back(std::atoi(item.c_str()));
    }
  }
  const std::string work = "/tmp/kw9-download-benchmark-" + std::to_string(getpid());
  std::printf(
      "size   blocks  elapsed s  line+pauses s  ratio   CPU s   CPU %%  switches/block  "
      "allocations  peak RSS growth kB\n");
  bool allOk = true;
  for (int size : sizes) {
    Simulator sim = StartSimulator(trackersim, size, work + ".sim");
    if (sim.device.empty()) {
      std::fprintf(stderr, "download_benchmark: could not start %s\n", trackersim.c_str());
      StopSimulator(sim);
      return 1;
    }
    const Figures f = Download(sim.device, work + ".kml");
    StopSimulator(sim);
    std::remove((work + ".sim").c_str());
    std::remove((work + ".kml").c_str());
    if (!f.ok) {
      std::fprintf(stderr, "download_benchmark: %d kbit: %s\n", size, f.message.c_str());
      allOk = false;
      continue;
    }
    const bool wide = size == 1024;
    const int blocks = wide ? 8192 : 2048;
    const int bytesPerBlock = wide ? 4 + 18 : 3 + 8;
    const double line = blocks * (bytesPerBlock * kByteSeconds + kPauseSeconds);
    std::printf("%4d  %7d  %9.2f  %13.2f  %5.3f  %6.3f  %5.2f  %14.2f  %11ld  %17ld\n", size,
                blocks, f.elapsed, line, f.elapsed / line, f.cpu, 100.0 * f.cpu / f.elapsed,
                static_cast<double>(f.wakeUps) / blocks, f.allocations,
                f.rssAfterKb - f.rssBeforeKb);
    std::fflush(stdout);
  }
  return allOk ? 0 : 1;
}
