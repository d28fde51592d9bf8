// Bytes that end right before an inaccessible page, so that reading or
// writing one byte past them faults in any build, sanitizer or not. POSIX
// only: for *_host_test.cpp files.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

class GuardedBytes {
 public:
  // Room for `size` bytes ending at the guard page, zero-filled.
  explicit GuardedBytes(size_t size) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    span_ = (size + page - 1) / page * page + page;
    void* p = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<uint8_t*>(p);
    if (mprotect(base_ + span_ - page, page, PROT_NONE) != 0) throw std::runtime_error("mprotect failed");
    data_ = base_ + span_ - page - size;
    size_ = size;
  }
  GuardedBytes(const uint8_t* bytes, size_t size) : GuardedBytes(size) {
    if (size) std::memcpy(data_, bytes, size);
  }
  ~GuardedBytes() { munmap(base_, span_); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  uint8_t* data() { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* base_ = nullptr;
  size_t span_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
