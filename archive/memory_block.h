// A heap block whose allocation failure is an answer, not an exception: the
// archive reports "Can't Allocate Memory !!" rather than terminating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

class MemoryBlock {
 public:
  MemoryBlock() = default;
  // An empty block on failure (check with ok()); a zero-size request succeeds.
  static MemoryBlock Allocate(size_t size) {
    MemoryBlock block;
    block.data_.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (block.data_) block.size_ = size;
    return block;
  }
  bool ok() const { return data_ != nullptr; }
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};
