#include "storage/packed_row.h"

#include <algorithm>
#include <cstring>

namespace qm {
namespace {

std::size_t VarintSize(std::size_t value) {
  std::size_t n = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++n;
  }
  return n;
}

unsigned char* PutVarint(unsigned char* p, std::size_t value) {
  while (value >= 0x80) {
    *p++ = static_cast<unsigned char>(value | 0x80);
    value >>= 7;
  }
  *p++ = static_cast<unsigned char>(value);
  return p;
}

const unsigned char* GetVarint(const unsigned char* p, std::size_t& value) {
  value = 0;
  unsigned shift = 0;
  for (;;) {
    const unsigned char b = *p++;
    value |= static_cast<std::size_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return p;
    shift += 7;
  }
}

}  // namespace

unsigned char* RowArena::Allocate(std::size_t size, RowChunk*& chunk) {
  constexpr std::size_t kChunk = std::size_t{8} << 20;
  constexpr std::size_t kSmallestChunk = std::size_t{64} << 10;
  if (size > kSmallestChunk / 4) return nullptr;
  if (chunks_.empty() || chunks_.back()->memory.size() - chunks_.back()->used < size) {
    // The first chunk fits the expected total when that is small.
    const std::size_t want =
        chunks_.empty() ? std::clamp(expected_ + expected_ / 8, kSmallestChunk, kChunk) : kChunk;
    auto fresh = std::make_unique<RowChunk>();
    fresh->memory = LargeBuffer(want);
    if (fresh->memory.data() == nullptr) return nullptr;
    chunks_.push_back(std::move(fresh));
  }
  chunk = chunks_.back().get();
  unsigned char* p = chunk->memory.data() + chunk->used;
  chunk->used += size;
  ++chunk->live;
  return p;
}

void RowArena::ReleaseEmpty() {
  std::erase_if(chunks_, [](const std::unique_ptr<RowChunk>& c) { return c->live == 0; });
}

void RowArena::Adopt(RowArena&& other) {
  for (auto& chunk : other.chunks_) chunks_.push_back(std::move(chunk));
  other.chunks_.clear();
}

void RowRelease::operator()(unsigned char* data) const {
  if (chunk != nullptr) {
    --chunk->live;
  } else {
    delete[] data;
  }
}

PackedRow PackedRow::Pack(std::span<const std::string_view> fields, bool mayNeedEscaping, RowArena* arena) {
  const std::size_t header = (fields.size() << 1) | (mayNeedEscaping ? 1u : 0u);
  std::size_t total = VarintSize(header);
  for (const auto f : fields) total += VarintSize(f.size()) + f.size();

  PackedRow row;
  RowChunk* chunk = nullptr;
  unsigned char* block = arena != nullptr ? arena->Allocate(total, chunk) : nullptr;
  if (block != nullptr) {
    row.data_ = std::unique_ptr<unsigned char[], RowRelease>(block, RowRelease{chunk});
  } else {
    row.data_ = std::unique_ptr<unsigned char[], RowRelease>(
        std::make_unique_for_overwrite<unsigned char[]>(total).release(), RowRelease{nullptr});
  }
  unsigned char* p = PutVarint(row.data_.get(), header);
  for (const auto f : fields) {
    p = PutVarint(p, f.size());
    if (!f.empty()) std::memcpy(p, f.data(), f.size());
    p += f.size();
  }
  return row;
}

std::size_t PackedRow::size() const {
  if (!data_) return 0;
  std::size_t header = 0;
  GetVarint(data_.get(), header);
  return header >> 1;
}

bool PackedRow::MayNeedEscaping() const { return data_ && (data_[0] & 1u) != 0; }

std::string_view PackedRow::Field(std::size_t index) const {
  if (!data_) return {};
  std::size_t header = 0;
  const unsigned char* p = GetVarint(data_.get(), header);
  if (index >= (header >> 1)) return {};
  std::size_t len = 0;
  for (;;) {
    p = GetVarint(p, len);
    if (index == 0) return {reinterpret_cast<const char*>(p), len};
    p += len;
    --index;
  }
}

namespace {

// Calls `visit` with every field of a packed block, in order; returns nothing
// for an empty row. `reserve` gets the field count first.
template <class Reserve, class Visit>
void ForEachField(const unsigned char* data, Reserve reserve, Visit visit) {
  if (data == nullptr) return;
  std::size_t header = 0;
  const unsigned char* p = GetVarint(data, header);
  const std::size_t count = header >> 1;
  reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t len = 0;
    p = GetVarint(p, len);
    visit(std::string_view(reinterpret_cast<const char*>(p), len));
    p += len;
  }
}

}  // namespace

void PackedRow::Fields(std::vector<std::string_view>& out) const {
  out.clear();
  ForEachField(
      data_.get(), [&](std::size_t n) { out.reserve(n); }, [&](std::string_view f) { out.push_back(f); });
}

std::vector<std::string> PackedRow::Unpack() const {
  // Straight into strings: search results copy many rows, so no scratch list.
  std::vector<std::string> out;
  ForEachField(
      data_.get(), [&](std::size_t n) { out.reserve(n); }, [&](std::string_view f) { out.emplace_back(f); });
  return out;
}

std::size_t PackedRow::TextBytes() const {
  if (!data_) return 0;
  std::size_t header = 0;
  const unsigned char* p = GetVarint(data_.get(), header);
  std::size_t total = 0;
  for (std::size_t i = 0, n = header >> 1; i < n; ++i) {
    std::size_t len = 0;
    p = GetVarint(p, len);
    total += len;
    p += len;
  }
  return total;
}

}  // namespace qm
