// SHA-256 (FIPS 180-4): the digests of patched files (their base and new
// contents), and the one `qa2 --version` shows of the stub it carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kSha256Size = 32;

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t size);
  // The digest as 64 lowercase hex digits; the object is spent afterwards.
  std::string HexDigest();
  // The 32 digest bytes; the object is spent afterwards.
  void Digest(uint8_t out[32]);

 private:
  void Block(const uint8_t* p);
  void Blocks(const uint8_t* p, size_t blocks);
  uint32_t h_[8];
  uint8_t buffer_[64];
  size_t used_ = 0;
  uint64_t length_ = 0;
};

// Whether digests are made with the processor's SHA instructions (x86 with
// the SHA extensions); AllowSha256Instructions(false) makes them portably,
// for testing both ways. The digests are the same.
bool Sha256UsesInstructions();
void AllowSha256Instructions(bool allowed);
