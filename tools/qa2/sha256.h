// SHA-256 (FIPS 180-4), for the digest `qa2 --version` shows of the stub it
// carries and the release's SHA256SUMS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qa2 {

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t size);
  // The digest as 64 lowercase hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);
  uint32_t h_[8];
  uint8_t buffer_[64];
  size_t used_ = 0;
  uint64_t length_ = 0;
};

}  // namespace qa2
