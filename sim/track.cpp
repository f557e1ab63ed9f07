// The built-in log: two drives as the tracker would have stored them, one fix
// every ten seconds or so. The first runs along a coast road across the prime
// meridian, so many of its fixes lie within a degree of it and are stored with
// longitude degrees 0 (which the tool skips); the second runs through
// highlands across the equator, west and partly south of zero. Everything is
// computed from fixed numbers: the same size always gives the same bytes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

#include "sim/tracker.h"

namespace sim {
namespace {

constexpr int kRecordSize = 15;

struct Waypoint {
  double lat;
  double lon;
  double alt;  // metres
};

constexpr Waypoint kCoastRoad[] = {
    {5.556, -0.197, 61},  // Accra
    {5.669, -0.017, 25}, {5.712, 0.113, 14}, {5.860, 0.350, 34}, {5.998, 0.595, 12},
    {6.130, 0.800, 41},  {6.112, 1.190, 9},  {6.131, 1.223, 14}, {6.230, 1.597, 8},
    {6.362, 2.085, 18},  {6.368, 2.418, 6},  // Cotonou
};

constexpr Waypoint kHighlandRoad[] = {
    {-0.290, -78.550, 2950},  // south end, well below the equator
    {-0.220, -78.512, 2850}, {-0.095, -78.470, 2780}, {0.002, -78.456, 2480},
    {-0.057, -78.340, 2150}, {0.041, -78.146, 2830},  {0.234, -78.262, 2550},
    {0.351, -78.122, 2225},  // north end
};

// A road as a polyline; a drive longer than the road turns at its ends.
class Road {
 public:
  template <size_t N>
  explicit Road(const Waypoint (&points)[N]) : points_(points, points + N) {
    along_.push_back(0);
    for (size_t i = 1; i < N; ++i) along_.push_back(along_.back() + Distance(i - 1, i));
  }

  double Length() const { return along_.back(); }

  // How far along the road longitude first reaches lon; 0 if it never does.
  double WhereLongitude(double lon) const {
    for (size_t i = 1; i < points_.size(); ++i) {
      const Waypoint& a = points_[i - 1];
      const Waypoint& b = points_[i];
      if ((a.lon - lon) * (b.lon - lon) <= 0 && a.lon != b.lon) {
        return along_[i - 1] + (along_[i] - along_[i - 1]) * (lon - a.lon) / (b.lon - a.lon);
      }
    }
    return 0;
  }

  Waypoint At(double s) const {
    const double period = 2 * Length();
    s = std::fmod(s, period);
    if (s > Length()) s = period - s;
    size_t i = 1;
    while (i + 1 < points_.size() && along_[i] < s) ++i;
    const double f = (s - along_[i - 1]) / (along_[i] - along_[i - 1]);
    const Waypoint& a = points_[i - 1];
    const Waypoint& b = points_[i];
    return {a.lat + (b.lat - a.lat) * f, a.lon + (b.lon - a.lon) * f, a.alt + (b.alt - a.alt) * f};
  }

 private:
  double Distance(size_t i, size_t j) const {
    const double kMetresPerDegree = 111320;
    const double mid = (points_[i].lat + points_[j].lat) / 2 * std::numbers::pi / 180;
    const double dx = (points_[j].lon - points_[i].lon) * std::cos(mid) * kMetresPerDegree;
    const double dy = (points_[j].lat - points_[i].lat) * kMetresPerDegree;
    return std::sqrt(dx * dx + dy * dy);
  }

  std::vector<Waypoint> points_;
  std::vector<double> along_;  // metres from the first point
};

// Degrees, minutes, hundredths and ten-thousandths of a minute; bit 7 of the
// last byte marks west or south.
void PutCoordinate(double value, uint8_t* p) {
  const bool negative = value < 0;
  const double a = std::fabs(value);
  int degrees = static_cast<int>(a);
  long q = std::lround((a - degrees) * 60 * 10000);  // ten-thousandths of a minute
  if (q >= 600000) {
    ++degrees;
    q -= 600000;
  }
  // Four zero bytes would read as the end of the log.
  if (degrees == 0 && q == 0 && !negative) q = 1;
  p[0] = static_cast<uint8_t>(degrees);
  p[1] = static_cast<uint8_t>(q / 10000);
  p[2] = static_cast<uint8_t>(q / 100 % 100);
  p[3] = static_cast<uint8_t>(q % 100 | (negative ? 0x80 : 0));
}

struct Drive {
  const Road& road;
  double start;  // metres along the road
  int fixes;
  double phase;  // keeps the two drives from looking alike
};

// Stores one drive's fixes from offset on; clock is the UTC second of the day.
void Store(const Drive& d, std::vector<uint8_t>& memory, size_t& offset, int& clock) {
  double s = d.start;
  for (int k = 0; k < d.fixes; ++k) {
    // Cruising with some ups and downs, and a short stop now and then.
    double speed = 12.5 + 4.5 * std::sin(k * 0.031 + d.phase) + 2.0 * std::sin(k * 0.17);
    if (k > 0 && k % 181 < 7) speed = 0;
    Waypoint w = d.road.At(s);
    // Bends of the road and a little receiver noise.
    w.lat += 0.0006 * std::sin(s / 700) + 0.00002 * std::sin(k * 1.7);
    w.lon += 0.0006 * std::cos(s / 1100) + 0.00002 * std::cos(k * 2.3);
    const int alt = std::max(0, static_cast<int>(std::lround(w.alt + 3 * std::sin(k * 0.11))));
    const int sats = static_cast<int>(
        std::lround(8 + 2.5 * std::sin(k * 0.013 + d.phase) + 1.5 * std::sin(k * 0.071)));

    uint8_t* r = memory.data() + offset;
    PutCoordinate(w.lon, r);
    PutCoordinate(w.lat, r + 4);
    r[8] = static_cast<uint8_t>(alt / 10000);
    r[9] = static_cast<uint8_t>(alt / 100 % 100);
    r[10] = static_cast<uint8_t>(alt % 100);
    r[11] = static_cast<uint8_t>(std::clamp(sats, 4, 12));
    r[12] = static_cast<uint8_t>(clock / 3600);
    r[13] = static_cast<uint8_t>(clock / 60 % 60);
    r[14] = static_cast<uint8_t>(clock % 60);
    offset += kRecordSize;

    // The receiver's fix interval wanders a second either way.
    const int interval = k % 37 == 36 ? 11 : k % 53 == 52 ? 9 : 10;
    clock += interval;
    s += speed * interval;
  }
}

}  // namespace

std::vector<uint8_t> RealisticTrack(int sizeKbit) {
  if (sizeKbit != 64 && sizeKbit != 128) sizeKbit = 1024;
  std::vector<uint8_t> memory(static_cast<size_t>(sizeKbit) * 128, 0xFF);
  const int records = static_cast<int>(memory.size() / kRecordSize) * 85 / 100;
  const int coastFixes = records * 45 / 100;
  const int highlandFixes = records - coastFixes;

  const Road coast(kCoastRoad);
  const Road highland(kHighlandRoad);
  // Start the coast drive so that it passes 1 degree east about 40 % of the
  // way in, whatever its length: every size gets skipped and written fixes.
  const double planned = coastFixes * 10.0 * 12.5;
  const double start = std::max(0.0, coast.WhereLongitude(1.0) - 0.4 * planned);

  size_t offset = 0;
  int clock = 40 * 60;  // 00:40:00 UTC
  Store({coast, start, coastFixes, 0.0}, memory, offset, clock);
  clock += 75 * 60;  // parked between the drives
  Store({highland, 0.0, highlandFixes, 1.9}, memory, offset, clock);
  std::fill_n(memory.begin() + static_cast<std::ptrdiff_t>(offset), 4, 0x5A);
  return memory;
}

}  // namespace sim
