// SHA-256 (FIPS 180-4), for the custody record of a downloaded memory dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

class Sha256 {
 public:
  Sha256();
  void Add(const uint8_t* data, size_t n);
  // The digest as 64 lower-case hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);

  uint32_t state_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes added
};

std::string Sha256Hex(const uint8_t* data, size_t n);

}  // namespace cli
