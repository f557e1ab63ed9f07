// Not a test: run it by hand to see what a full 1024-kbit log costs to decode
// and to write in every export format (the aim is well under 50 ms).
//   track_benchmark [DIR] [ROUNDS]
// writes kw9_track_benchmark with each format's extension into DIR (default:
// the system's temporary folder) ROUNDS times (default 20) and prints the
// figures.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "kw9_version.h"
#include "platform/os/os.h"
#include "tracklog/flash_image.h"
#include "tracklog/track_dates.h"
#include "tracklog/track_export.h"
#include "tracklog/track_model.h"
#include "tracklog/track_text.h"

namespace {

// 8738 fixes ten seconds apart, west and south among them, over midnight: a
// memory full to its last record.
void FillFullMemory() {
  for (int i = 0; i < 8738; ++i) {
    int32_t* r = FlashImage + i * TrackRecord::kSize;
    const int t = (20 * 3600 + i * 10) % 86400;
    const int alt = (i * 37) % 9000;
    const int record[TrackRecord::kSize] = {
        1 + i % 170, i % 60,          12,        34 | (i % 3 == 0 ? 0x80 : 0),
        i % 80,      (i / 7) % 60,    56,        7 | (i % 5 == 0 ? 0x80 : 0),
        alt / 10000, alt / 100 % 100, alt % 100, 9,
        t / 3600,    t / 60 % 60,     t % 60};
    std::copy(record, record + TrackRecord::kSize, r);
  }
  LogMemoryGeometry = {1024, 131056};
}

double Ms(int64_t micros) {
  return static_cast<double>(micros) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::error_code ec;
  const std::string dir = argc > 1 ? argv[1] : std::filesystem::temp_directory_path(ec).string();
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  FillFullMemory();
  const size_t formats = TrackFormats().size();
  const std::string base = dir + "/kw9_track_benchmark.kml";

  std::vector<int64_t> totals, decodes, dates, textOnly;
  std::vector<std::vector<int64_t>> writes(formats);
  size_t fixes = 0;
  for (int round = 0; round < rounds; ++round) {
    const int64_t start = platform::MonotonicMicros();
    const TrackModel model = DecodeFlashImage(kFlashImageSize);
    const int64_t decoded = platform::MonotonicMicros();
    const std::vector<int64_t> times = DateFixes(model, DateAnchor::LatestMoment(UnixNow()));
    const int64_t dated = platform::MonotonicMicros();
    // The text alone, without the file system: what the formats cost.
    for (size_t f = 0; f < formats; ++f) {
      TrackText text;
      text.Reserve(1024 + model.fixes.size() * 200);
      AppendTrackExport(text, TrackFormatAt(f), model, times, 0);
    }
    const int64_t texts = platform::MonotonicMicros();
    int64_t before = texts;
    for (size_t f = 0; f < formats; ++f) {
      const TrackFormat format = TrackFormatAt(f);
      const ExportResult r =
          WriteTrackFile(DefaultExportPath(base, format), format, model, times, UnixNow());
      if (!r.ok) {
        std::fprintf(stderr, "track_benchmark: %s\n", r.message.c_str());
        return 1;
      }
      const int64_t now = platform::MonotonicMicros();
      writes[f].push_back(now - before);
      before = now;
    }
    totals.push_back(before - start - (texts - dated));
    textOnly.push_back(texts - dated);
    decodes.push_back(decoded - start);
    dates.push_back(dated - decoded);
    fixes = model.fixes.size();
  }

  auto median = [](std::vector<int64_t> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  auto best = [](const std::vector<int64_t>& v) { return *std::min_element(v.begin(), v.end()); };
  std::printf("kw9 %s track benchmark: %zu fixes from a 1024-kbit image, %d rounds, into %s\n",
              KW9_VERSION, fixes, rounds, dir.c_str());
  std::printf("%-22s %9s %9s %10s\n", "step", "best ms", "median ms", "bytes");
  std::printf("%-22s %9.2f %9.2f\n", "decode", Ms(best(decodes)), Ms(median(decodes)));
  std::printf("%-22s %9.2f %9.2f\n", "dates", Ms(best(dates)), Ms(median(dates)));
  const std::string textsStep = std::to_string(formats) + " texts in memory";
  std::printf("%-22s %9.2f %9.2f\n", textsStep.c_str(), Ms(best(textOnly)), Ms(median(textOnly)));
  for (size_t f = 0; f < formats; ++f) {
    const std::string path = DefaultExportPath(base, TrackFormatAt(f));
    const auto size = std::filesystem::file_size(path, ec);
    std::printf("write %-16s %9.2f %9.2f %10llu\n", TrackFormats()[f].name, Ms(best(writes[f])),
                Ms(median(writes[f])), static_cast<unsigned long long>(ec ? 0 : size));
    std::filesystem::remove(path, ec);
  }
  const std::string allStep = "decode + " + std::to_string(formats) + " exports";
  std::printf("%-22s %9.2f %9.2f\n", allStep.c_str(), Ms(best(totals)), Ms(median(totals)));
  return 0;
}
