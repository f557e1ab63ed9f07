// SVG: a picture of the track for any browser, drawn from the fixes alone (no
// map tiles, nothing fetched): the line on axes where a metre east is as long
// as a metre north, coloured from the first fix to the last, broken where a
// segment ends, with the start and end marked, a scale bar, the times, the
// distance and an altitude profile below. Segments that lie far apart (a
// flight between two walks) get a panel each, with a scale of its own.
//
// Every fix is one point of the line's paths (class "t"), written as integer
// steps in tenths of a pixel, which keeps a full memory's picture near
// 100 kB. The colour changes in bands; the short step between two bands of
// one segment is a path of its own (class "j"), so the line's paths hold each
// fix once. Numbers are written digit by digit, never through the C library's
// locale.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tracklog/export_writer.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEarthRadius = 6371008.8;  // metres, the mean radius
constexpr double kMetresPerDegree = kEarthRadius * kPi / 180;

// The canvas, in pixels.
constexpr int kWidth = 800;
constexpr int kHeight = 840;
constexpr int kMapLeft = 20, kMapTop = 96, kMapWidth = 760, kMapHeight = 520;
constexpr int kMapMargin = 24;
constexpr int kScaleRoom = 28;  // below the line, for the scale bar
constexpr int kProfileLeft = 70, kProfileTop = 660, kProfileWidth = 700, kProfileHeight = 140;
constexpr int kBands = 32;

// Blue, green, orange, red: each tells apart from its neighbours and from
// white, so the direction of travel reads at a glance.
constexpr std::array<std::array<int, 3>, 4> kRamp = {
    {{0x21, 0x66, 0xac}, {0x1a, 0x98, 0x50}, {0xe6, 0x85, 0x0e}, {0xd7, 0x19, 0x1c}}};

struct Rgb {
  int r, g, b;
};

Rgb RampAt(double f) {
  f = std::clamp(f, 0.0, 1.0) * static_cast<double>(kRamp.size() - 1);
  const size_t i = std::min(static_cast<size_t>(f), kRamp.size() - 2);
  const double w = f - static_cast<double>(i);
  auto mix = [&](int c) {
    return static_cast<int>(std::lround(kRamp[i][c] * (1 - w) + kRamp[i + 1][c] * w));
  };
  return {mix(0), mix(1), mix(2)};
}

void Hex(TrackText& t, const Rgb& c) {
  static const char kDigits[] = "0123456789abcdef";
  t.Add('#');
  for (const int v : {c.r, c.g, c.b}) t.Add(kDigits[v >> 4]).Add(kDigits[v & 15]);
}

// v with the given digits after the point, rounded.
void Decimal(TrackText& t, double v, int digits) {
  int64_t scale = 1;
  for (int i = 0; i < digits; ++i) scale *= 10;
  const int64_t units = std::llround(std::fabs(v) * static_cast<double>(scale));
  if (v < 0 && units != 0) t.Add('-');
  t.Int(units / scale);
  if (digits > 0) t.Add('.').Int(units % scale, digits);
}

void Distance(TrackText& t, double metres) {
  if (metres < 1000) {
    t.Int(std::llround(metres)).Add(" m");
  } else {
    Decimal(t, metres / 1000, metres < 100000 ? 2 : 0);
    t.Add(" km");
  }
}

void Duration(TrackText& t, int64_t seconds) {
  if (seconds >= 3600) t.Int(seconds / 3600).Add(" h ");
  if (seconds >= 60) t.Int(seconds / 60 % 60, seconds >= 3600 ? 2 : 1).Add(" min ");
  t.Int(seconds % 60, seconds >= 60 ? 2 : 1).Add(" s");
}

// "2026-03-01 20:00:00 UTC".
void Moment(TrackText& t, int64_t unixSeconds) {
  TrackText iso;
  iso.IsoTime(unixSeconds);
  std::string text = iso.Text();  // "2026-03-01T20:00:00Z"
  text[text.size() - 10] = ' ';
  text.pop_back();
  t.Add(text).Add(" UTC");
}

double Haversine(const TrackFix& a, const TrackFix& b) {
  const double rad = kPi / 180;
  const double dLat = (b.latitude - a.latitude) * rad;
  const double dLon = (b.longitude - a.longitude) * rad;
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(a.latitude * rad) * std::cos(b.latitude * rad) * std::sin(dLon / 2) *
                       std::sin(dLon / 2);
  return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

// A fix placed on the canvas, in tenths of a pixel.
struct Spot {
  int64_t x, y;
};

// Paths of integer steps: "M x y" where a path starts, then "l dx dy" pairs.
class StepPath {
 public:
  explicit StepPath(TrackText& t) : t_(t) {}
  void Start(const Spot& s) {
    t_.Add('M').Int(s.x).Add(' ').Int(s.y);
    last_ = s;
    first_ = true;
  }
  void Step(const Spot& s) {
    t_.Add(first_ ? "l" : " ").Int(s.x - last_.x);
    if (s.y - last_.y >= 0) t_.Add(' ');
    t_.Int(s.y - last_.y);
    last_ = s;
    first_ = false;
  }
  const Spot& Last() const { return last_; }

 private:
  TrackText& t_;
  Spot last_{0, 0};
  bool first_ = true;
};

// A part of the map box with a scale of its own. A track whose segments lie
// far apart (a flight between two walks) gets one panel per place, side by
// side, so that neither shrinks to a dot.
struct Panel {
  size_t begin = 0, end = 0;  // the drawn fixes it shows
  int left = 0, width = 0;    // pixels
  double pixelsPerMetre = 1;
};

struct Layout {
  std::vector<size_t> order;    // the fixes drawn, in log order
  std::vector<size_t> segment;  // each one's segment
  std::vector<Spot> map;        // each one's place on the map
  std::vector<double> along;    // metres along the line up to each one
  std::vector<Panel> panels;
  double distance = 0;
};

constexpr size_t kMostPanels = 3;
constexpr double kNearbyMetres = 50000;

// Places fixes [panel.begin, panel.end) in the panel, on axes that measure
// alike at its middle latitude.
void PlacePanel(const ExportTrack& track, Layout& layout, Panel& panel) {
  const auto fix = [&](size_t k) -> const TrackFix& { return track.model.fixes[layout.order[k]]; };
  // A track across the 180th meridian is drawn as one piece.
  double west = 180, east = -180, shiftedWest = 360, shiftedEast = 0;
  for (size_t k = panel.begin; k < panel.end; ++k) {
    const double lon = fix(k).longitude;
    west = std::min(west, lon);
    east = std::max(east, lon);
    shiftedWest = std::min(shiftedWest, lon < 0 ? lon + 360 : lon);
    shiftedEast = std::max(shiftedEast, lon < 0 ? lon + 360 : lon);
  }
  const bool shift = shiftedEast - shiftedWest < east - west;
  if (shift) {
    west = shiftedWest;
    east = shiftedEast;
  }
  double south = 90, north = -90;
  for (size_t k = panel.begin; k < panel.end; ++k) {
    south = std::min(south, fix(k).latitude);
    north = std::max(north, fix(k).latitude);
  }
  const double midLat = (south + north) / 2;
  const double eastScale = kMetresPerDegree * std::cos(midLat * kPi / 180);
  const double spanX = (east - west) * eastScale;
  const double spanY = (north - south) * kMetresPerDegree;
  const double roomX = panel.width - 2 * kMapMargin,
               roomY = kMapHeight - 2 * kMapMargin - kScaleRoom;
  // A track of one place still gets a scale: 100 metres across.
  double scale = std::min(spanX > 0 ? roomX / spanX : 1e30, spanY > 0 ? roomY / spanY : 1e30);
  scale = std::min(scale, roomX / 100);
  panel.pixelsPerMetre = scale;
  const double centreX = panel.left + panel.width / 2.0,
               centreY = kMapTop + (kMapHeight - kScaleRoom) / 2.0;
  const double midLon = (west + east) / 2;
  for (size_t k = panel.begin; k < panel.end; ++k) {
    const double lon = shift && fix(k).longitude < 0 ? fix(k).longitude + 360 : fix(k).longitude;
    const double x = centreX + (lon - midLon) * eastScale * scale;
    const double y = centreY - (fix(k).latitude - midLat) * kMetresPerDegree * scale;
    layout.map[k] = {std::llround(x * 10), std::llround(y * 10)};
  }
}

Layout Place(const ExportTrack& track) {
  Layout layout;
  for (size_t s = 0; s < track.segments.size(); ++s) {
    ForEachPoint(track, track.segments[s], [&](const TrackFix&, size_t i) {
      layout.order.push_back(i);
      layout.segment.push_back(s);
    });
  }
  const size_t n = layout.order.size();
  if (n == 0) return layout;
  const auto fix = [&](size_t k) -> const TrackFix& { return track.model.fixes[layout.order[k]]; };
  layout.along.resize(n);
  layout.map.resize(n);
  // A new panel where a segment starts far from where the one before ended:
  // further than 50 km and than the panel so far is wide.
  layout.panels.push_back({});
  double reach = 0;  // the furthest the current panel's fixes lie from its first
  for (size_t k = 0; k < n; ++k) {
    const bool sameSegment = k > 0 && layout.segment[k] == layout.segment[k - 1];
    const double step = k > 0 ? Haversine(fix(k - 1), fix(k)) : 0;
    if (sameSegment) layout.distance += step;
    layout.along[k] = layout.distance;
    if (k > 0 && !sameSegment && step > kNearbyMetres && step > 2 * reach) {
      layout.panels.back().end = k;
      layout.panels.push_back({k, k, 0, 0, 1});
      reach = 0;
    }
    reach = std::max(reach, Haversine(fix(layout.panels.back().begin), fix(k)));
  }
  layout.panels.back().end = n;
  // Too many places to tell apart: one map of them all.
  if (layout.panels.size() > kMostPanels) layout.panels = {{0, n, 0, 0, 1}};
  const int count = static_cast<int>(layout.panels.size());
  for (int p = 0; p < count; ++p) {
    Panel& panel = layout.panels[static_cast<size_t>(p)];
    panel.left = kMapLeft + p * kMapWidth / count;
    panel.width = kMapWidth / count;
    PlacePanel(track, layout, panel);
  }
  return layout;
}

void AppendHeader(TrackText& t, const ExportTrack& track, const Layout& layout) {
  int64_t first = kNoTime, last = kNoTime;
  for (const size_t i : layout.order) {
    if (track.times[i] == kNoTime) continue;
    if (first == kNoTime) first = track.times[i];
    last = track.times[i];
  }
  t.Add("<text x=\"20\" y=\"30\" class=\"title\">kw9 track</text>\n");
  t.Add("<text x=\"20\" y=\"54\">").Int(static_cast<int64_t>(layout.order.size()));
  t.Add(layout.order.size() == 1 ? " fix, " : " fixes, ");
  t.Int(static_cast<int64_t>(track.segments.size()));
  t.Add(track.segments.size() == 1 ? " segment, " : " segments, ");
  Distance(t, layout.distance);
  if (first != kNoTime) {
    t.Add(", ");
    Duration(t, last - first);
  }
  t.Add("</text>\n<text x=\"20\" y=\"76\">");
  if (first == kNoTime) {
    t.Add("No fix has a time");
  } else {
    t.Add("First fix ");
    Moment(t, first);
    t.Add(", last fix ");
    Moment(t, last);
  }
  t.Add("</text>\n");
}

// The line in kBands colours by fix order, each segment a run of its own.
void AppendLine(TrackText& t, const Layout& layout) {
  const size_t n = layout.order.size();
  auto bandOf = [&](size_t k) { return static_cast<int>(k * kBands / n); };
  auto colourOf = [&](int band) { return RampAt((band + 0.5) / kBands); };
  t.Add("<g transform=\"scale(.1)\" fill=\"none\" stroke-width=\"16\" stroke-linecap=\"round\" ");
  t.Add("stroke-linejoin=\"round\">\n");
  size_t k = 0;
  while (k < n) {
    const int band = bandOf(k);
    const bool continues = k > 0 && layout.segment[k] == layout.segment[k - 1];
    if (continues) {
      t.Add("<path class=\"j\" stroke=\"");
      Hex(t, colourOf(band));
      t.Add("\" d=\"");
      StepPath join(t);
      join.Start(layout.map[k - 1]);
      join.Step(layout.map[k]);
      t.Add("\"/>\n");
    }
    t.Add("<path class=\"t\" stroke=\"");
    Hex(t, colourOf(band));
    t.Add("\" d=\"");
    StepPath path(t);
    size_t end = k;
    for (; end < n && bandOf(end) == band; ++end) {
      const bool starts = end == 0 || layout.segment[end] != layout.segment[end - 1];
      if (end == k || starts) {
        if (end > k) t.Add(' ');
        path.Start(layout.map[end]);
        // A fix alone in its segment is a dot.
        if (starts && (end + 1 == n || layout.segment[end + 1] != layout.segment[end])) t.Add('z');
      } else {
        path.Step(layout.map[end]);
      }
    }
    t.Add("\"/>\n");
    k = end;
  }
  t.Add("</g>\n");
}

void AppendMarkers(TrackText& t, const Layout& layout) {
  const Spot& start = layout.map.front();
  const Spot& end = layout.map.back();
  auto pixel = [&](int64_t tenths) { Decimal(t, static_cast<double>(tenths) / 10, 1); };
  // A label on the side of its mark that faces the middle of the panel, so
  // that it stays inside.
  auto label = [&](const Spot& at, const Panel& panel, int64_t dy, const char* text) {
    const bool left = at.x > (panel.left * 2 + panel.width) * 5;
    t.Add("<text class=\"halo\"").Add(left ? " text-anchor=\"end\"" : "").Add(" x=\"");
    pixel(at.x + (left ? -110 : 110));
    t.Add("\" y=\"");
    pixel(at.y + dy);
    t.Add("\">").Add(text).Add("</text>\n");
  };
  t.Add("<circle r=\"7\" stroke=\"#fff\" stroke-width=\"2\" fill=\"");
  Hex(t, RampAt(0));
  t.Add("\" cx=\"");
  pixel(start.x);
  t.Add("\" cy=\"");
  pixel(start.y);
  t.Add("\"/>\n<rect width=\"13\" height=\"13\" stroke=\"#fff\" stroke-width=\"2\" fill=\"");
  Hex(t, RampAt(1));
  t.Add("\" x=\"");
  pixel(end.x - 65);
  t.Add("\" y=\"");
  pixel(end.y - 65);
  t.Add("\"/>\n");
  label(start, layout.panels.front(), -60, "Start");
  label(end, layout.panels.back(), 160, "End");
}

// In each panel a bar of 1, 2 or 5 times a power of ten metres, about a
// fifth of its width long, and a line between panels.
void AppendScales(TrackText& t, const Layout& layout) {
  const int y = kMapTop + kMapHeight - 16;
  for (const Panel& panel : layout.panels) {
    const double wanted = std::min(150, panel.width / 4) / panel.pixelsPerMetre;
    double metres = 1;
    while (metres * 10 <= wanted) metres *= 10;
    if (metres * 5 <= wanted) {
      metres *= 5;
    } else if (metres * 2 <= wanted) {
      metres *= 2;
    }
    const int x = panel.left + 16;
    t.Add("<path stroke=\"#222\" stroke-width=\"2\" fill=\"none\" d=\"M");
    t.Int(x).Add(' ').Int(y - 6).Add("v6h");
    Decimal(t, metres * panel.pixelsPerMetre, 1);
    t.Add("v-6\"/>\n<text x=\"").Int(x).Add("\" y=\"").Int(y - 10).Add("\">");
    if (metres >= 1000) {
      t.Int(static_cast<int64_t>(metres / 1000)).Add(" km");
    } else {
      t.Int(static_cast<int64_t>(metres)).Add(" m");
    }
    t.Add("</text>\n");
    if (panel.left > kMapLeft) {
      t.Add("<path stroke=\"#bbb\" stroke-dasharray=\"4 4\" d=\"M").Int(panel.left).Add(' ');
      t.Int(kMapTop).Add('v').Int(kMapHeight).Add("\"/>\n");
    }
  }
}

// The colour key, at the right of the header.
void AppendKey(TrackText& t) {
  const int x = kWidth - 20 - 160, y = 66;
  t.Add("<defs><linearGradient id=\"ramp\">");
  for (size_t i = 0; i < kRamp.size(); ++i) {
    t.Add("<stop offset=\"");
    Decimal(t, static_cast<double>(i) / static_cast<double>(kRamp.size() - 1), 3);
    t.Add("\" stop-color=\"");
    Hex(t, {kRamp[i][0], kRamp[i][1], kRamp[i][2]});
    t.Add("\"/>");
  }
  t.Add("</linearGradient></defs>\n<rect fill=\"url(#ramp)\" width=\"160\" height=\"8\" x=\"");
  t.Int(x).Add("\" y=\"").Int(y).Add("\"/>\n");
  t.Add("<text x=\"").Int(x).Add("\" y=\"").Int(y - 6).Add("\">first fix</text>\n");
  t.Add("<text text-anchor=\"end\" x=\"").Int(x + 160).Add("\" y=\"").Int(y - 6);
  t.Add("\">last fix</text>\n");
}

// Altitude over the distance along the line (over the fix order when the
// track never moves), broken where the line is.
void AppendProfile(TrackText& t, const ExportTrack& track, const Layout& layout) {
  const size_t n = layout.order.size();
  double low = 1e30, high = -1e30;
  for (const size_t i : layout.order) {
    low = std::min(low, track.model.fixes[i].altitude);
    high = std::max(high, track.model.fixes[i].altitude);
  }
  const double room = high - low > 0 ? high - low : 20;
  const double base = high - low > 0 ? low : low - 10;
  const bool byDistance = layout.distance > 0;
  const int right = kProfileLeft + kProfileWidth, bottom = kProfileTop + kProfileHeight;
  t.Add("<text x=\"20\" y=\"").Int(kProfileTop - 16).Add("\">Altitude (m) over ");
  t.Add(byDistance ? "the distance" : "the fixes").Add("</text>\n");
  t.Add("<rect fill=\"#f4f4f4\" stroke=\"#bbb\" x=\"").Int(kProfileLeft).Add("\" y=\"");
  t.Int(kProfileTop).Add("\" width=\"").Int(kProfileWidth).Add("\" height=\"");
  t.Int(kProfileHeight).Add("\"/>\n");
  t.Add("<text text-anchor=\"end\" x=\"").Int(kProfileLeft - 6).Add("\" y=\"");
  t.Int(kProfileTop + 12).Add("\">").Int(std::llround(base + room)).Add("</text>\n");
  t.Add("<text text-anchor=\"end\" x=\"").Int(kProfileLeft - 6).Add("\" y=\"").Int(bottom);
  t.Add("\">").Int(std::llround(base)).Add("</text>\n");
  t.Add("<text x=\"").Int(kProfileLeft).Add("\" y=\"").Int(bottom + 18).Add("\">");
  t.Add(byDistance ? "0 m" : "1").Add("</text>\n");
  t.Add("<text text-anchor=\"end\" x=\"").Int(right).Add("\" y=\"").Int(bottom + 18);
  t.Add("\">");
  if (byDistance) {
    Distance(t, layout.distance);
  } else {
    t.Int(static_cast<int64_t>(n));
  }
  t.Add("</text>\n");
  t.Add("<path transform=\"scale(.1)\" fill=\"none\" stroke=\"#333\" stroke-width=\"12\" ");
  t.Add("stroke-linejoin=\"round\" stroke-linecap=\"round\" d=\"");
  StepPath path(t);
  for (size_t k = 0; k < n; ++k) {
    const double f = byDistance ? layout.along[k] / layout.distance
                     : n > 1    ? static_cast<double>(k) / static_cast<double>(n - 1)
                                : 0.5;
    const double alt = track.model.fixes[layout.order[k]].altitude;
    const Spot s{std::llround((kProfileLeft + 4 + f * (kProfileWidth - 8)) * 10),
                 std::llround((bottom - 4 - (alt - base) / room * (kProfileHeight - 8)) * 10)};
    const bool starts = k == 0 || layout.segment[k] != layout.segment[k - 1];
    const bool alone = starts && (k + 1 == n || layout.segment[k + 1] != layout.segment[k]);
    if (starts) {
      if (k > 0) t.Add(' ');
      path.Start(s);
      if (alone) t.Add('z');
    } else if (s.x != path.Last().x || s.y != path.Last().y) {
      // Fixes on the same tenth of a pixel add nothing to the profile.
      path.Step(s);
    }
  }
  t.Add("\"/>\n");
}

}  // namespace

void AppendSvg(TrackText& t, const ExportTrack& track) {
  const Layout layout = Place(track);
  t.Add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  t.Add("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"").Int(kWidth);
  t.Add("\" height=\"").Int(kHeight).Add("\" viewBox=\"0 0 ").Int(kWidth).Add(' ').Int(kHeight);
  t.Add("\">\n<title>kw9 track</title>\n");
  t.Add("<style>text{font-family:sans-serif;font-size:13px;fill:#222}");
  t.Add(".title{font-size:18px;font-weight:bold}");
  t.Add(".halo{font-weight:bold;paint-order:stroke;stroke:#fff;stroke-width:3px}</style>\n");
  t.Add("<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
  AppendHeader(t, track, layout);
  t.Add("<rect fill=\"#fafafa\" stroke=\"#bbb\" x=\"").Int(kMapLeft).Add("\" y=\"").Int(kMapTop);
  t.Add("\" width=\"").Int(kMapWidth).Add("\" height=\"").Int(kMapHeight).Add("\"/>\n");
  if (layout.order.empty()) {
    t.Add("<text x=\"").Int(kMapLeft + 16).Add("\" y=\"").Int(kMapTop + 30);
    t.Add("\">No fixes</text>\n</svg>\n");
    return;
  }
  AppendLine(t, layout);
  AppendMarkers(t, layout);
  AppendScales(t, layout);
  AppendKey(t);
  AppendProfile(t, track, layout);
  t.Add("</svg>\n");
}
