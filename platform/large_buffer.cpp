#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <utility>

namespace qm {

LargeBuffer::LargeBuffer(std::size_t size) {
  if (size == 0) return;
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  ::madvise(p, size, MADV_HUGEPAGE);  // a hint: ignored where huge pages are off
  data_ = static_cast<unsigned char*>(p);
  size_ = size;
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
  if (this != &other) {
    Reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

LargeBuffer::~LargeBuffer() { Reset(); }

void LargeBuffer::Reset() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace qm
