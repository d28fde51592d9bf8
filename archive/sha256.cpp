#include "archive/sha256.h"

#include <algorithm>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define QA_SHA_INSTRUCTIONS 1
#endif

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

#ifdef QA_SHA_INSTRUCTIONS
// The processor's SHA extensions: the version gate reads a large installed
// file about as fast as the disk gives it.
bool ProcessorHasSha() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3)) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & (1u << 29)) != 0;
}

bool UseInstructions = ProcessorHasSha();

__attribute__((target("sha,sse4.1,ssse3"))) void BlocksWithInstructions(uint32_t h[8], const uint8_t* p,
                                                                        size_t blocks) {
  const __m128i order = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);   // CDAB
  __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);  // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);     // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);           // CDGH
  for (; blocks > 0; --blocks, p += 64) {
    const __m128i abef = state0, cdgh = state1;
    __m128i w[4];
    for (int i = 0; i < 4; ++i)
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), order);
    for (int i = 0; i < 16; ++i) {
      __m128i msg = _mm_add_epi32(w[i & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
      state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
      if (i < 12) {
        // The words of group i + 4 take the place of group i's.
        __m128i next = _mm_sha256msg1_epu32(w[i & 3], w[(i + 1) & 3]);
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[(i + 3) & 3], w[(i + 2) & 3], 4));
        w[i & 3] = _mm_sha256msg2_epu32(next, w[(i + 3) & 3]);
      }
      msg = _mm_shuffle_epi32(msg, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
    }
    state0 = _mm_add_epi32(state0, abef);
    state1 = _mm_add_epi32(state1, cdgh);
  }
  tmp = _mm_shuffle_epi32(state0, 0x1B);         // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);      // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);   // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);      // ABEF
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), state1);
}
#endif

}  // namespace

bool Sha256UsesInstructions() {
#ifdef QA_SHA_INSTRUCTIONS
  return UseInstructions;
#else
  return false;
#endif
}

void AllowSha256Instructions(bool allowed) {
#ifdef QA_SHA_INSTRUCTIONS
  UseInstructions = allowed && ProcessorHasSha();
#else
  (void)allowed;
#endif
}

void Sha256::Blocks(const uint8_t* p, size_t blocks) {
#ifdef QA_SHA_INSTRUCTIONS
  if (UseInstructions) {
    BlocksWithInstructions(h_, p, blocks);
    return;
  }
#endif
  for (; blocks > 0; --blocks, p += 64) Block(p);
}

Sha256::Sha256()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Block(const uint8_t* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
  h_[5] += f;
  h_[6] += g;
  h_[7] += h;
}

void Sha256::Update(const uint8_t* data, size_t size) {
  if (size == 0) return;
  length_ += size;
  if (used_ > 0) {
    const size_t n = std::min(size, sizeof buffer_ - used_);
    std::memcpy(buffer_ + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
    if (used_ < sizeof buffer_) return;
    Blocks(buffer_, 1);
    used_ = 0;
  }
  const size_t whole = size / sizeof buffer_;
  Blocks(data, whole);
  data += whole * sizeof buffer_;
  size -= whole * sizeof buffer_;
  if (size > 0) std::memcpy(buffer_, data, size);
  used_ = size;
}

void Sha256::Digest(uint8_t out[32]) {
  const uint64_t bits = length_ * 8;
  uint8_t tail[72] = {0x80};
  const size_t pad = (used_ < 56 ? 56 : 120) - used_;
  for (int i = 0; i < 8; ++i) tail[pad + i] = uint8_t(bits >> (56 - 8 * i));
  Update(tail, pad + 8);
  for (int i = 0; i < 8; ++i)
    for (int b = 0; b < 4; ++b) out[4 * i + b] = uint8_t(h_[i] >> (24 - 8 * b));
}

std::string Sha256::HexDigest() {
  uint8_t digest[kSha256Size];
  Digest(digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t v : digest) {
    out.push_back(kHex[v >> 4]);
    out.push_back(kHex[v & 15]);
  }
  return out;
}
