// A large block of memory straight from the kernel, for data that lives long
// and is touched in order (a table's rows as loaded from its file).
//
// The block is asked to be backed by huge pages where the system allows it:
// filling hundreds of megabytes then costs a few hundred page faults instead
// of one per 4 KiB. Contents start zeroed. Without huge pages it is ordinary
// memory.
//
// Thread safety: a value; the owner guards it.
#pragma once

#include <cstddef>

namespace qm {

class LargeBuffer {
 public:
  LargeBuffer() = default;
  // Maps `size` bytes; empty (data() == nullptr) when that fails.
  explicit LargeBuffer(std::size_t size);
  LargeBuffer(LargeBuffer&& other) noexcept;
  LargeBuffer& operator=(LargeBuffer&& other) noexcept;
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;
  ~LargeBuffer();

  unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void Reset();

  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace qm
