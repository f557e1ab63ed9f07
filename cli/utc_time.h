// UTC time as ISO 8601 text, the same on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// "2026-03-01T12:00:05Z" for seconds since 1970-01-01 00:00:00 UTC.
std::string UtcText(int64_t unixSeconds);
std::string UtcNow();

}  // namespace cli
