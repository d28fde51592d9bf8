#include "archive/patch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/name_fold.h"
#include "platform/platform.h"

extern "C" {
#include "LzmaDec.h"
}

bool IsReservedMemberName(const char* name) {
  const size_t n = sizeof kReservedMemberPrefix - 1;
  if (std::strlen(name) < n) return false;
  char head[sizeof kReservedMemberPrefix];
  std::memcpy(head, name, n);
  head[n] = '\0';
  return platform::SameNameIgnoringCase(head, kReservedMemberPrefix);
}

std::string PatchMemberName(unsigned n) {
  char name[kArchiveNameField + 8];
  std::snprintf(name, sizeof name, "QA2$P%05u", n);
  return name;
}

// --- the table ---------------------------------------------------------------

namespace {

constexpr size_t kTargetFixed = kArchiveNameField + 1 + 8 + kSha256Size + 8 + 4;
constexpr size_t kBaseSize = 8 + kSha256Size + kArchiveNameField;

bool NameTerminated(const uint8_t* field) {
  return std::memchr(field, 0, kArchiveNameField) != nullptr;
}

}  // namespace

std::vector<uint8_t> StorePatchTable(const std::vector<PatchTarget>& targets) {
  std::vector<uint8_t> out(8);
  std::memcpy(out.data(), kPatchTableMagic, 4);
  StoreLE32(out.data() + 4, uint32_t(targets.size()));
  for (const PatchTarget& t : targets) {
    const size_t at = out.size();
    out.resize(at + kTargetFixed + t.bases.size() * kBaseSize);
    uint8_t* p = out.data() + at;
    std::memcpy(p, t.name, kArchiveNameField);
    p[15] = t.flags;
    StoreLE64(p + 16, t.newSize);
    std::memcpy(p + 24, t.newHash, kSha256Size);
    StoreLE64(p + 56, t.fileTime);
    StoreLE32(p + 64, uint32_t(t.bases.size()));
    p += kTargetFixed;
    for (const PatchBase& b : t.bases) {
      StoreLE64(p, b.size);
      std::memcpy(p + 8, b.hash, kSha256Size);
      std::memcpy(p + 40, b.patch, kArchiveNameField);
      p += kBaseSize;
    }
  }
  return out;
}

bool ParsePatchTable(const uint8_t* data, size_t size, std::vector<PatchTarget>* targets) {
  targets->clear();
  if (size < 8 || std::memcmp(data, kPatchTableMagic, 4) != 0) return false;
  const uint32_t count = LoadLE32(data + 4);
  size_t at = 8;
  // Each record takes at least kTargetFixed bytes: a count the bytes cannot
  // hold is refused before anything is sized from it.
  if (count > (size - at) / kTargetFixed) return false;
  targets->reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < kTargetFixed) return false;
    const uint8_t* p = data + at;
    if (!NameTerminated(p)) return false;
    PatchTarget t;
    std::memcpy(t.name, p, kArchiveNameField);
    t.flags = p[15];
    t.newSize = LoadLE64(p + 16);
    std::memcpy(t.newHash, p + 24, kSha256Size);
    t.fileTime = LoadLE64(p + 56);
    const uint32_t bases = LoadLE32(p + 64);
    at += kTargetFixed;
    if (bases > (size - at) / kBaseSize) return false;
    for (uint32_t b = 0; b < bases; ++b, at += kBaseSize) {
      const uint8_t* q = data + at;
      if (!NameTerminated(q + 40)) return false;
      PatchBase base;
      base.size = LoadLE64(q);
      std::memcpy(base.hash, q + 8, kSha256Size);
      std::memcpy(base.patch, q + 40, kArchiveNameField);
      t.bases.push_back(base);
    }
    targets->push_back(std::move(t));
  }
  return at == size;
}

const PatchTarget* FindPatchTarget(const std::vector<PatchTarget>& targets, const char* name) {
  for (const PatchTarget& t : targets)
    if (platform::SameNameIgnoringCase(t.name, name)) return &t;
  return nullptr;
}

// --- applying ----------------------------------------------------------------

const char* DescribePatchError(PatchError error) {
  switch (error) {
    case PatchError::None: return "no error";
    case PatchError::BadHeader: return "the patch's header is wrong for this file";
    case PatchError::Truncated: return "the patch ends too early";
    case PatchError::BadOperation: return "the patch holds an unknown operation";
    case PatchError::OutOfRange: return "the patch reaches outside the old file or past the new size";
    case PatchError::TrailingBytes: return "the patch has bytes after its end";
    case PatchError::ReadFailed: return "the old file could not be read";
    case PatchError::WriteFailed: return "the new file could not be written";
    case PatchError::WrongResult: return "the patched file does not have the expected SHA-256";
  }
  return "unknown error";
}

namespace {

constexpr size_t kOutPiece = size_t(1) << 20;
constexpr size_t kOldWindow = size_t(1) << 20;

class PatchReader {
 public:
  explicit PatchReader(const PatchSource& source) : source_(source) {}
  // The next byte; false at the end or on a failed source.
  bool Byte(uint8_t* b) {
    if (!Fill()) return false;
    *b = *at_++;
    return true;
  }
  // Up to `want` bytes in place; false at the end.
  bool Some(size_t want, const uint8_t** p, size_t* got) {
    if (!Fill()) return false;
    *got = std::min<size_t>(want, size_t(end_ - at_));
    *p = at_;
    at_ += *got;
    return true;
  }
  bool AtEnd() { return !Fill(); }
  bool failed() const { return failed_; }

 private:
  bool Fill() {
    while (at_ == end_) {
      if (done_) return false;
      const uint8_t* piece = nullptr;
      size_t size = 0;
      if (!source_(&piece, &size)) {
        failed_ = done_ = true;
        return false;
      }
      if (size == 0) {
        done_ = true;
        return false;
      }
      at_ = piece;
      end_ = piece + size;
    }
    return true;
  }
  const PatchSource& source_;
  const uint8_t* at_ = nullptr;
  const uint8_t* end_ = nullptr;
  bool done_ = false, failed_ = false;
};

void* LzmaAlloc(ISzAllocPtr, size_t size) { return std::malloc(size); }
void LzmaFree(ISzAllocPtr, void* address) { std::free(address); }
const ISzAlloc kLzmaAlloc = {LzmaAlloc, LzmaFree};

// A patch member's bytes as the raw patch stream: handed on as they are, or
// decoded from their LZMA form in pieces.
class PatchStream {
 public:
  explicit PatchStream(const PatchSource& inner) : inner_(inner) { LzmaDec_Construct(&lzma_); }
  ~PatchStream() { LzmaDec_Free(&lzma_, &kLzmaAlloc); }
  PatchStream(const PatchStream&) = delete;
  PatchStream& operator=(const PatchStream&) = delete;

  bool Next(const uint8_t** piece, size_t* size) {
    if (!started_ && !Start()) return false;
    if (!packed_) {
      if (head_.size() > headUsed_) {
        *piece = head_.data() + headUsed_;
        *size = head_.size() - headUsed_;
        headUsed_ = head_.size();
        return true;
      }
      if (innerDone_) {
        *size = 0;
        return true;
      }
      return inner_(piece, size);
    }
    return Decode(piece, size);
  }

 private:
  // Takes the first bytes: the magic tells the form.
  bool Start() {
    started_ = true;
    while (head_.size() < kPatchLzmaHeaderSize) {
      const uint8_t* p;
      size_t n;
      if (!inner_(&p, &n)) return false;
      if (n == 0) {
        innerDone_ = true;
        break;
      }
      head_.insert(head_.end(), p, p + n);
    }
    packed_ = head_.size() >= 4 && std::memcmp(head_.data(), kPatchLzmaMagic, 4) == 0;
    if (!packed_) return true;
    if (head_.size() < kPatchLzmaHeaderSize) return false;
    CLzmaProps props;
    if (LzmaProps_Decode(&props, head_.data() + 4, LZMA_PROPS_SIZE) != SZ_OK || props.dicSize > kPatchLzmaDictMax)
      return false;
    left_ = LoadLE64(head_.data() + 4 + LZMA_PROPS_SIZE);
    if (LzmaDec_Allocate(&lzma_, head_.data() + 4, LZMA_PROPS_SIZE, &kLzmaAlloc) != SZ_OK) return false;
    LzmaDec_Init(&lzma_);
    in_ = head_.data() + kPatchLzmaHeaderSize;
    inEnd_ = head_.data() + head_.size();
    out_.resize(size_t(std::min<uint64_t>(std::max<uint64_t>(left_, 1), kOutPiece)));
    return true;
  }

  bool Decode(const uint8_t** piece, size_t* size) {
    if (left_ == 0) {
      // Nothing may follow the stream.
      *size = 0;
      if (in_ != inEnd_) return false;
      while (!innerDone_) {
        const uint8_t* p;
        size_t n;
        if (!inner_(&p, &n) || n > 0) return false;
        innerDone_ = true;
      }
      return true;
    }
    for (;;) {
      if (in_ == inEnd_ && !innerDone_) {
        size_t n = 0;
        if (!inner_(&in_, &n)) return false;
        inEnd_ = in_ + n;
        innerDone_ = n == 0;
      }
      SizeT outLen = SizeT(std::min<uint64_t>(out_.size(), left_));
      SizeT inLen = SizeT(inEnd_ - in_);
      const bool last = outLen == left_;
      ELzmaStatus status;
      if (LzmaDec_DecodeToBuf(&lzma_, out_.data(), &outLen, in_, &inLen, last ? LZMA_FINISH_END : LZMA_FINISH_ANY,
                              &status) != SZ_OK)
        return false;
      in_ += inLen;
      left_ -= outLen;
      if (outLen > 0) {
        if (left_ == 0 && status != LZMA_STATUS_FINISHED_WITH_MARK &&
            status != LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK)
          return false;
        *piece = out_.data();
        *size = outLen;
        return true;
      }
      // No progress without more input, and none comes: cut short.
      if (inLen == 0 && in_ == inEnd_ && innerDone_) return false;
    }
  }

  const PatchSource& inner_;
  CLzmaDec lzma_;
  std::vector<uint8_t> head_, out_;
  size_t headUsed_ = 0;
  const uint8_t* in_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
  uint64_t left_ = 0;
  bool started_ = false, packed_ = false, innerDone_ = false;
};

// 0: ok; 1: the stream ended; 2: the number does not fit 64 bits.
int ReadNumber(PatchReader& in, uint64_t* value) {
  *value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    uint8_t b;
    if (!in.Byte(&b)) return 1;
    const uint64_t bits = uint64_t(b & 0x7F);
    if (shift == 63 && bits > 1) return 2;
    *value |= bits << shift;
    if ((b & 0x80) == 0) return 0;
  }
  return 2;
}

// The old file seen through a window, so that the many short reads of a
// patch of code do not each reach the file.
class OldWindow {
 public:
  OldWindow(const PatchOldReader& read, uint64_t oldSize)
      : read_(read), buffer_(size_t(std::min<uint64_t>(std::max<uint64_t>(oldSize, 1), kOldWindow))) {}
  bool Get(uint64_t offset, uint64_t oldSize, uint8_t* out, size_t size) {
    while (size > 0) {
      if (offset < start_ || offset >= start_ + have_) {
        const size_t n = size_t(std::min<uint64_t>(buffer_.size(), oldSize - offset));
        if (!read_(offset, buffer_.data(), n)) return false;
        start_ = offset;
        have_ = n;
      }
      const size_t from = size_t(offset - start_);
      const size_t n = std::min(size, have_ - from);
      std::memcpy(out, buffer_.data() + from, n);
      out += n;
      offset += n;
      size -= n;
    }
    return true;
  }

 private:
  const PatchOldReader& read_;
  std::vector<uint8_t> buffer_;
  uint64_t start_ = 0;
  size_t have_ = 0;
};

}  // namespace

PatchError ApplyPatch(const PatchSource& patch, uint64_t oldSize, uint64_t newSize, const PatchOldReader& old,
                      const PatchSink& sink, const uint8_t* expectedHash) {
  PatchStream stream(patch);
  const PatchSource raw = [&](const uint8_t** piece, size_t* size) { return stream.Next(piece, size); };
  PatchReader in(raw);
  uint8_t header[kPatchHeaderSize];
  for (uint8_t& b : header)
    if (!in.Byte(&b)) return PatchError::Truncated;
  if (std::memcmp(header, kPatchMagic, 4) != 0 || LoadLE64(header + 4) != oldSize ||
      LoadLE64(header + 12) != newSize)
    return PatchError::BadHeader;

  OldWindow window(old, oldSize);
  std::vector<uint8_t> out(size_t(std::min<uint64_t>(std::max<uint64_t>(newSize, 1), kOutPiece)));
  size_t filled = 0;
  Sha256 sha;
  auto flush = [&] {
    sha.Update(out.data(), filled);
    const bool ok = filled == 0 || sink(out.data(), filled);
    filled = 0;
    return ok;
  };
  uint64_t made = 0, oldAt = 0;
  while (made < newSize) {
    uint8_t op;
    uint64_t len = 0;
    if (!in.Byte(&op)) return PatchError::Truncated;
    if (op > kPatchAdd) return PatchError::BadOperation;
    if (int r = ReadNumber(in, &len)) return r == 1 ? PatchError::Truncated : PatchError::BadOperation;
    if (len > newSize - made) return PatchError::OutOfRange;
    if (op != kPatchAdd) {
      uint64_t zigzag = 0;
      if (int r = ReadNumber(in, &zigzag)) return r == 1 ? PatchError::Truncated : PatchError::BadOperation;
      // Unsigned arithmetic: a move below 0 or past the end wraps and fails
      // the range test below.
      const uint64_t move = (zigzag >> 1) ^ (~(zigzag & 1) + 1);
      oldAt += move;
      if (oldAt > oldSize || len > oldSize - oldAt) return PatchError::OutOfRange;
    }
    while (len > 0) {
      const size_t n = size_t(std::min<uint64_t>(len, out.size() - filled));
      uint8_t* to = out.data() + filled;
      if (op == kPatchAdd) {
        for (size_t done = 0; done < n;) {
          const uint8_t* p;
          size_t got;
          if (!in.Some(n - done, &p, &got)) return PatchError::Truncated;
          std::memcpy(to + done, p, got);
          done += got;
        }
      } else {
        if (!window.Get(oldAt, oldSize, to, n)) return PatchError::ReadFailed;
        oldAt += n;
        if (op == kPatchDiff) {
          for (size_t done = 0; done < n;) {
            const uint8_t* p;
            size_t got;
            if (!in.Some(n - done, &p, &got)) return PatchError::Truncated;
            for (size_t k = 0; k < got; ++k) to[done + k] = uint8_t(to[done + k] + p[k]);
            done += got;
          }
        }
      }
      filled += n;
      made += n;
      len -= n;
      if (filled == out.size() && !flush()) return PatchError::WriteFailed;
    }
  }
  if (!in.AtEnd()) return PatchError::TrailingBytes;
  if (in.failed()) return PatchError::Truncated;
  if (!flush()) return PatchError::WriteFailed;
  uint8_t digest[kSha256Size];
  sha.Digest(digest);
  if (expectedHash && std::memcmp(digest, expectedHash, kSha256Size) != 0) return PatchError::WrongResult;
  return PatchError::None;
}

PatchOldReader ReadFromFile(platform::ReadableFile* file) {
  return [file](uint64_t offset, uint8_t* buffer, size_t size) {
    if (!file->Seek(offset)) return false;
    while (size > 0) {
      uint32_t got = 0;
      const uint32_t want = uint32_t(std::min<size_t>(size, 1u << 30));
      if (!file->Read(buffer, want, &got) || got == 0) return false;
      buffer += got;
      size -= got;
    }
    return true;
  };
}
