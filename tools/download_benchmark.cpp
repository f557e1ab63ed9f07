// The log download against the simulated tracker at the real line speed, side
// by side with a bare loop of the same block reads on the same simulator in
// the same run (half of it before the download, half after): what the
// window, its worker and the progress bar add to the bare reads, how close
// the bare reads come to the line's own time, what CPU both burn while they
// wait, how often they wake, and whether the download allocates or grows per
// block. Linux only (it starts trackersim on a pseudo-terminal). Then the
// same download reading the memory twice, as kw9cli's --verify does, against
// twice the line's time.
//
// With --until-end, instead: logs that fill the given percentages of a
// 1024-kbit memory, each downloaded until the log's end (kw9cli's
// --until-end) against the line time of the blocks it needed, and then
// whole, in the same run on the same simulator.
//
//   download_benchmark [--trackersim PATH] [--sizes 64,128,1024] [--runs N] [--verify yes|no]
//   download_benchmark --until-end 1,10,50 [--runs N]
#include <dirent.h>
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
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "app/log_download.h"
#include "app/resources.h"
#include "app/tracker_dlg.h"
#include "link/commands.h"
#include "link/device_link.h"
#include "platform/os/os.h"
#include "platform/ui/scripted/scripted_backend.h"
#include "tracklog/flash_image.h"

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

// Each time a thread of ours gave up the CPU, waiting (voluntary) or
// preempted (involuntary): what a context switch costs is paid this often.
struct Switches {
  long voluntary = 0, involuntary = 0;
};

Switches OurSwitches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return {usage.ru_nvcsw, usage.ru_nivcsw};
}

struct Simulator {
  pid_t pid = -1;
  std::string device;
};

// The simulator shares the cores with us: its CPU time and its switches are
// part of what a paced download costs on this machine.
struct SimulatorUsage {
  double cpu = 0;
  long switches = 0;
};

long NumberAfterColon(const std::string& line) {
  return std::atol(line.substr(line.find(':') + 1).c_str());
}

SimulatorUsage UsageOf(const Simulator& sim) {
  SimulatorUsage usage;
  const std::string proc = "/proc/" + std::to_string(sim.pid);
  std::ifstream stat(proc + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), {});
  // The fields after the command name (which ends at the last ')') start
  // with field 3; utime and stime, in clock ticks, are fields 14 and 15.
  const size_t close = text.rfind(')');
  if (close != std::string::npos && close + 2 < text.size()) {
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
      if (n >= 14) ticks += std::atof(field.c_str());
    }
    usage.cpu = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  // The switches are counted per thread.
  const std::string taskDir = proc + "/task";
  if (DIR* dir = opendir(taskDir.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream status(taskDir + "/" + entry->d_name + "/status");
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
            line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
          usage.switches += NumberAfterColon(line);
        }
      }
    }
    closedir(dir);
  }
  return usage;
}

Simulator StartSimulator(const std::string& program, int sizeKbit, const std::string& outPath,
                         const std::string& image = "") {
  Simulator sim;
  std::remove(outPath.c_str());
  const std::string size = std::to_string(sizeKbit);
  const char* argv[] = {program.c_str(), "--pace", "--size", size.c_str(),
                        nullptr,         nullptr,  nullptr};
  if (!image.empty()) {
    argv[4] = "--image";
    argv[5] = image.c_str();
  }
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
  long allocations = 0, rssGrowthKb = 0;
  Switches switches;
  SimulatorUsage sim;
};

// Takes the figures of what runs between Start and Stop.
class Meter {
 public:
  explicit Meter(const Simulator& sim) : sim_(sim) {}

  void Start() {
    rssBeforeKb_ = PeakRssKb();
    allocationsBefore_ = allocations.load();
    switchesBefore_ = OurSwitches();
    simBefore_ = UsageOf(sim_);
    cpuBefore_ = platform::ProcessCpuMicros();
    start_ = platform::MonotonicMicros();
  }

  void Stop(Figures& f) const {
    f.elapsed = static_cast<double>(platform::MonotonicMicros() - start_) / 1e6;
    f.cpu = static_cast<double>(platform::ProcessCpuMicros() - cpuBefore_) / 1e6;
    const SimulatorUsage simAfter = UsageOf(sim_);
    f.sim.cpu = simAfter.cpu - simBefore_.cpu;
    f.sim.switches = simAfter.switches - simBefore_.switches;
    const Switches switchesAfter = OurSwitches();
    f.switches.voluntary = switchesAfter.voluntary - switchesBefore_.voluntary;
    f.switches.involuntary = switchesAfter.involuntary - switchesBefore_.involuntary;
    f.allocations = allocations.load() - allocationsBefore_;
    f.rssGrowthKb = PeakRssKb() - rssBeforeKb_;
  }

 private:
  const Simulator& sim_;
  long rssBeforeKb_ = 0, allocationsBefore_ = 0;
  Switches switchesBefore_;
  SimulatorUsage simBefore_;
  int64_t cpuBefore_ = 0, start_ = 0;
};

// The download's block reads alone, from address begin up to end:
// ReadFlashBlock over the same link and port, one block after another on a
// thread of the worker's priority, with no window, worker or progress bar
// around them. What the line and the serial layer cost, and nothing else.
Figures BareLoop(const Simulator& sim, int sizeKbit, int begin, int end) {
  Figures f;
  std::thread reader([&] {
    platform::RaiseThreadPriority();
    if (!OpenPort(sim.device)) {
      f.message = "the port did not open";
      return;
    }
    LogMemoryGeometry.sizeCode = sizeKbit;
    const int blockSize = GeometryOfKbit(sizeKbit)->blockBytes;
    int32_t block[16] = {};
    int failed = 0;
    Meter meter(sim);
    meter.Start();
    for (int address = begin; address < end; address += blockSize) {
      if (!ReadFlashBlock(address, block)) ++failed;
    }
    meter.Stop(f);
    ClosePort();
    f.ok = failed == 0;
    if (!f.ok) f.message = std::to_string(failed) + " blocks did not come whole";
  });
  reader.join();
  return f;
}

// Both halves of a run as one.
Figures Sum(const Figures& a, const Figures& b) {
  Figures f;
  f.ok = a.ok && b.ok;
  f.message = a.ok ? b.message : a.message;
  f.elapsed = a.elapsed + b.elapsed;
  f.cpu = a.cpu + b.cpu;
  f.allocations = a.allocations + b.allocations;
  f.rssGrowthKb = a.rssGrowthKb + b.rssGrowthKb;
  f.switches = {a.switches.voluntary + b.switches.voluntary,
                a.switches.involuntary + b.switches.involuntary};
  f.sim = {a.sim.cpu + b.sim.cpu, a.sim.switches + b.sim.switches};
  return f;
}

// Presses Read (which names the port), then times Read Flash alone: from the
// click until the worker tells the user it is done. (The window's thread
// notices the worker's end only at its next look, up to a quarter of a
// second later; no user waits for that.)
Figures WindowDownload(const Simulator& sim, const std::string& output, bool twice = false,
                       bool untilEnd = false) {
  Figures f;
  TheWindowState.downloadReads =
      twice ? WindowState::DownloadReads::kTwice : WindowState::DownloadReads::kOnce;
  TheWindowState.downloadUntilEnd = untilEnd;
  Meter meter(sim);
  std::atomic<bool> metering{false};
  ui::ScriptedBackend backend;
  ui::UseBackend(&backend);
  backend.OnMessage([&](const ui::MessageRecord& m) {
    // On the worker's thread, which shows its messages itself.
    f.message = m.text;
    if (metering) meter.Stop(f);
    metering = false;
  });
  backend.AnswerFileDialogs([&](const ui::FileDialogRequest&) { return std::optional(output); });
  CTrackerDlg dialog;
  ui::SetMainWindow(&dialog);
  backend.SetScript(IDD_TRACKER_DIALOG, [&](ui::ScriptedWindow& window) {
    window.Type(IDC_COM_PORT, sim.device);
    window.Click(IDC_READ);
    if (dialog.statusText != "Read Complete") {
      f.message = "Read did not complete: " + f.message;
      return;
    }
    metering = true;
    meter.Start();
    window.Click(IDC_READ_FLASH);
    backend.PumpUntil([] { return workerBusy == 0; });
    f.ok = f.message == "Done Reading Flash";
  });
  dialog.DoModal();
  ClosePort();
  ui::SetMainWindow(nullptr);
  ui::UseBackend(nullptr);
  TheWindowState.downloadReads = WindowState::DownloadReads::kOnce;
  TheWindowState.downloadUntilEnd = false;
  return f;
}

// passes: how often the run reads the memory; the line's time and the bare
// loop's are counted that often.
void PrintRow(int size, const char* run, int blocks, double line, const Figures& f,
              const Figures* bare, int passes = 1) {
  char vsBare[16] = "      -";
  if (bare != nullptr) {
    std::snprintf(vsBare, sizeof vsBare, "%7.3f", f.elapsed / (passes * bare->elapsed));
  }
  line *= passes;
  blocks *= passes;
  const long switches = f.switches.voluntary + f.switches.involuntary;
  std::printf(
      "%4d  %-6s  %6d  %9.2f  %13.2f  %7.3f  %s  %6.3f  %5.2f  %14.2f  %9.2f  %9.2f  %18.2f  "
      "%11ld  %7ld\n",
      size, run, blocks, f.elapsed, line, f.elapsed / line, vsBare, f.cpu,
      100.0 * f.cpu / f.elapsed, static_cast<double>(switches) / blocks,
      static_cast<double>(f.switches.involuntary) / blocks, 100.0 * f.sim.cpu / f.elapsed,
      static_cast<double>(f.sim.switches) / blocks, f.allocations, f.rssGrowthKb);
  std::fflush(stdout);
}

std::string BesideThisProgram(const char* argv0, const std::string& name) {
  const std::string self = argv0;
  const size_t slash = self.rfind('/');
  return slash == std::string::npos ? name : self.substr(0, slash + 1) + name;
}

// A log of fix records that fills `percent` of the 1024-kbit memory, then an
// end marker; trackersim pads the rest with 0xFF.
bool WriteLogImage(const std::string& path, int percent) {
  const int records = kFlashImageSize / 100 * percent / TrackRecord::kSize;
  std::string image;
  for (int i = 0; i < records; ++i) {
    const char fix[] = {97,
                        static_cast<char>(i % 60),
                        41,
                        static_cast<char>(0x97),
                        30,
                        27,
                        44,
                        56,
                        0,
                        2,
                        15,
                        8,
                        14,
                        static_cast<char>(i / 60 % 60),
                        static_cast<char>(i % 60)};
    image.append(fix, sizeof fix);
  }
  image.append(4, 0x5A);
  std::ofstream out(path, std::ios::binary);
  out << image;
  return static_cast<bool>(out);
}

// The file up to its memory dump: header, track and footer.
std::string TrackPart(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  return text.substr(0, text.find("<!-- KLXDATA"));
}

// The until-end rows: per fill, the download until the log's end against
// the line time of what it needed (the questions before the first block and
// the blocks it read), then the whole memory on the same simulator; and
// whether both files hold the same track.
bool UntilEndRuns(const std::string& trackersim, const std::vector<int>& fills, int runs,
                  const std::string& work) {
  const MemoryGeometry& geometry = *GeometryOfKbit(1024);
  const double blockLine = 22 * kByteSeconds + kPauseSeconds;
  // What every download needs before its first block: "?" answered "OK",
  // "V" answered "20" and "K" answered "2", each reply with its line end.
  constexpr int kHandshakeBytes = 1 + 4 + 1 + 4 + 1 + 3;
  std::printf(
      "fill  run        bytes read  blocks  elapsed s  line+pauses s  vs line   CPU %%  "
      "same track\n");
  bool allOk = true;
  for (int fill : fills) {
    for (int run = 0; run < runs; ++run) {
      const std::string image = work + ".bin";
      if (!WriteLogImage(image, fill)) {
        std::fprintf(stderr, "download_benchmark: cannot write %s\n", image.c_str());
        return false;
      }
      Simulator sim = StartSimulator(trackersim, 1024, work + ".sim", image);
      if (sim.device.empty()) {
        std::fprintf(stderr, "download_benchmark: could not start %s\n", trackersim.c_str());
        StopSimulator(sim);
        return false;
      }
      const Figures part = WindowDownload(sim, work + "-part.kml", false, true);
      const int partBytes = TheWindowState.lastDownloadBytesRead;
      const Figures whole = WindowDownload(sim, work + ".kml");
      StopSimulator(sim);
      const bool same = TrackPart(work + "-part.kml") == TrackPart(work + ".kml");
      for (const char* name : {".sim", ".bin", ".kml", "-part.kml"}) {
        std::remove((work + name).c_str());
      }
      if (!part.ok || !whole.ok) {
        std::fprintf(stderr, "download_benchmark: %d %%: %s\n", fill,
                     (part.ok ? whole : part).message.c_str());
        allOk = false;
        continue;
      }
      allOk = allOk && same;
      const struct {
        const char* name;
        const Figures& f;
        int bytes;
      } rows[] = {{"until-end", part, partBytes}, {"full", whole, geometry.downloadBytes}};
      for (const auto& row : rows) {
        const int blocks = row.bytes / geometry.blockBytes;
        const double line = kHandshakeBytes * kByteSeconds + blocks * blockLine;
        std::printf("%3d%%  %-9s  %10d  %6d  %9.2f  %13.2f  %7.3f  %6.2f  %s\n", fill, row.name,
                    row.bytes, blocks, row.f.elapsed, line, row.f.elapsed / line,
                    100.0 * row.f.cpu / row.f.elapsed, same ? "yes" : "NO");
        std::fflush(stdout);
      }
    }
  }
  return allOk;
}

double LoadAverage() {
  double load = 0;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = 0;
    std::fclose(f);
  }
  return load;
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
  int runs = 1;
  bool verify = true;
  std::vector<int> fills;  // --until-end
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--trackersim") {
      trackersim = argv[i + 1];
    } else if (arg == "--sizes") {
      sizes.clear();
      std::stringstream list(argv[i + 1]);
      for (std::string item; std::getline(list, item, ',');)
        sizes.push_back(std::atoi(item.c_str()));
    } else if (arg == "--runs") {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else if (arg == "--verify") {
      verify = std::string(argv[i + 1]) != "no";
    } else if (arg == "--until-end") {
      std::stringstream list(argv[i + 1]);
      for (std::string item; std::getline(list, item, ',');) {
        const int fill = std::atoi(item.c_str());
        if (fill < 1 || fill > 99) {
          std::fprintf(stderr, "download_benchmark: --until-end takes percentages 1 to 99\n");
          return 2;
        }
        fills.push_back(fill);
      }
    }
  }
  for (int size : sizes) {
    if (GeometryOfKbit(size) == nullptr) {
      std::fprintf(stderr, "download_benchmark: --sizes takes 64, 128 and 1024, not %d\n", size);
      return 2;
    }
  }
  const std::string work = "/tmp/kw9-download-benchmark-" + std::to_string(getpid());
  std::printf("load average at the start: %.2f (cores: %ld)\n", LoadAverage(),
              sysconf(_SC_NPROCESSORS_ONLN));
  if (!fills.empty()) {
    const bool ok = UntilEndRuns(trackersim, fills, runs, work);
    std::printf("load average at the end: %.2f\n", LoadAverage());
    return ok ? 0 : 1;
  }
  std::printf(
      "size  run     blocks  elapsed s  line+pauses s  vs line  vs bare   CPU s  CPU %%  "
      "switches/block  preempted  sim CPU %%  sim switches/block  allocations  RSS+ kB\n");
  bool allOk = true;
  for (int size : sizes) {
    const MemoryGeometry& geometry = *GeometryOfKbit(size);
    const bool wide = WideBlockForm(size);
    const int blocks = geometry.downloadBytes / geometry.blockBytes;
    const int bytesPerBlock = wide ? 4 + 18 : 3 + 8;
    const double line = blocks * (bytesPerBlock * kByteSeconds + kPauseSeconds);
    for (int run = 0; run < runs; ++run) {
      Simulator sim = StartSimulator(trackersim, size, work + ".sim");
      if (sim.device.empty()) {
        std::fprintf(stderr, "download_benchmark: could not start %s\n", trackersim.c_str());
        StopSimulator(sim);
        return 1;
      }
      // Both on the same simulator, one right after the other; the bare
      // loop reads the first half of the memory before the window's download
      // and the second half after it, so that a load that changes over the
      // run weighs on both alike.
      const int end = geometry.downloadBytes;
      ui::ScriptedBackend quiet;  // the link's messages, should the bare loop meet any
      ui::UseBackend(&quiet);
      const Figures firstHalf = BareLoop(sim, size, 0, end / 2);
      ui::UseBackend(nullptr);
      const Figures window = WindowDownload(sim, work + ".kml");
      ui::UseBackend(&quiet);
      const Figures bare = Sum(firstHalf, BareLoop(sim, size, end / 2, end));
      ui::UseBackend(nullptr);
      Figures twice;
      if (verify) twice = WindowDownload(sim, work + ".kml", true);
      StopSimulator(sim);
      std::remove((work + ".sim").c_str());
      std::remove((work + ".kml").c_str());
      for (const Figures* f : {&bare, &window}) {
        if (!f->ok) {
          std::fprintf(stderr, "download_benchmark: %d kbit, %s: %s\n", size,
                       f == &bare ? "bare loop" : "window", f->message.c_str());
          allOk = false;
        }
      }
      if (verify && !twice.ok) {
        std::fprintf(stderr, "download_benchmark: %d kbit, verify: %s\n", size,
                     twice.message.c_str());
        allOk = false;
      }
      if (!bare.ok || !window.ok) continue;
      PrintRow(size, "bare", blocks, line, bare, nullptr);
      PrintRow(size, "window", blocks, line, window, &bare);
      if (verify && twice.ok) PrintRow(size, "verify", blocks, line, twice, &bare, 2);
    }
  }
  std::printf("load average at the end: %.2f\n", LoadAverage());
  return allOk ? 0 : 1;
}
