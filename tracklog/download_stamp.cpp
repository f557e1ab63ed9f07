#include "tracklog/download_stamp.h"

#include <charconv>
#include <vector>

#include "tracklog/track_dates.h"
#include "tracklog/track_text.h"

namespace {

constexpr std::string_view kOpen = "<!-- kw9 download";
constexpr std::string_view kClose = "-->";

// The model as one word that an XML comment can hold: no blank, no control
// byte, no "--".
std::string ModelWord(std::string_view model) {
  std::string word;
  for (const char c : model) {
    const bool printable = c > ' ' && c < 0x7F;
    word += printable && !(c == '-' && !word.empty() && word.back() == '-') ? c : '_';
  }
  return word;
}

template <typename Number>
std::optional<Number> NumberOf(std::string_view text) {
  Number value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "YYYY-MM-DDThh:mm:ssZ" as seconds since 1970.
std::optional<int64_t> IsoMoment(std::string_view text) {
  if (text.size() != 20 || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z') {
    return std::nullopt;
  }
  const std::optional<int64_t> days = ParseIsoDate(text.substr(0, 10));
  const auto part = [&](size_t at) { return NumberOf<unsigned>(text.substr(at, 2)); };
  const auto h = part(11), mi = part(14), s = part(17);
  if (!days || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
  return *days * 86400 + *h * 3600 + *mi * 60 + *s;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    const size_t end = std::min(text.find(' ', i), text.size());
    words.push_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

}  // namespace

std::string DownloadStampLine(const DownloadStamp& stamp) {
  TrackText line;
  line.Add(kOpen);
  if (stamp.time) line.Add(' ').IsoTime(*stamp.time);
  const std::string model = ModelWord(stamp.tracker.model);
  if (!model.empty()) line.Add(" model ").Add(model);
  if (stamp.tracker.firmwareVersion) line.Add(" firmware ").Int(*stamp.tracker.firmwareVersion);
  if (stamp.tracker.serialNumber) line.Add(" serial ").Int(*stamp.tracker.serialNumber);
  if (stamp.bytesRead) {
    line.Add(" read 0-").Int(*stamp.bytesRead - 1).Add(" of ").Int(stamp.memoryBytes);
  }
  line.Add(' ').Add(kClose).Add('\n');
  return line.Text();
}

std::optional<DownloadStamp> ParseDownloadStamp(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
    line.remove_suffix(1);
  }
  if (line.substr(0, kOpen.size()) != kOpen || line.size() < kOpen.size() + kClose.size() ||
      line.substr(line.size() - kClose.size()) != kClose) {
    return std::nullopt;
  }
  const std::vector<std::string_view> words =
      Words(line.substr(kOpen.size(), line.size() - kOpen.size() - kClose.size()));
  DownloadStamp stamp;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string_view key = words[i];
    const bool hasValue = i + 1 < words.size();
    if (i == 0 && IsoMoment(key)) {
      stamp.time = IsoMoment(key);
    } else if (key == "model" && hasValue) {
      stamp.tracker.model = std::string(words[++i]);
    } else if (key == "firmware" && hasValue) {
      stamp.tracker.firmwareVersion = NumberOf<int>(words[++i]);
      if (!stamp.tracker.firmwareVersion) return std::nullopt;
    } else if (key == "serial" && hasValue) {
      stamp.tracker.serialNumber = NumberOf<uint32_t>(words[++i]);
      if (!stamp.tracker.serialNumber) return std::nullopt;
    } else if (key == "read" && i + 3 < words.size() && words[i + 1].substr(0, 2) == "0-" &&
               words[i + 2] == "of") {
      const std::optional<int> last = NumberOf<int>(words[i + 1].substr(2));
      const std::optional<int> memory = NumberOf<int>(words[i + 3]);
      if (!last || !memory || *last < 0 || *last >= *memory) return std::nullopt;
      stamp.bytesRead = *last + 1;
      stamp.memoryBytes = *memory;
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return stamp;
}

std::string IdentityText(const TrackerIdentity& tracker) {
  TrackText text;
  if (!tracker.model.empty()) text.Add(tracker.model);
  if (tracker.serialNumber) {
    text.Add(text.Text().empty() ? "" : " ").Add("serial ").Int(*tracker.serialNumber);
  }
  if (tracker.firmwareVersion) {
    text.Add(text.Text().empty() ? "" : " ").Add("firmware ").Int(*tracker.firmwareVersion);
  }
  return text.Text();
}
