// The in-memory form of one table row.
//
// A table holds up to millions of rows of a dozen short fields each. Keeping
// every field in its own std::string costs several times the text itself, so a
// row is kept as one heap block: a header followed by every field as a
// length-prefixed run of bytes (LEB128 lengths, usually one byte each). Fields
// are read back as views; a row turns into a std::vector<std::string> only
// when a caller asks for a copy.
//
// The header also carries one flag, "may need escaping": set when a field may
// not survive being written back raw (the row came from a file line with
// double quotes in it, or was stored with such a field). Rows without the
// flag are written field by field without a check.
//
// Rows loaded from a file are packed one after another into large chunks of
// a RowArena (no allocation per row, and the chunks can use huge pages); a
// chunk is freed once no row lives in it any more. Other rows get their own
// heap block.
//
// Thread safety: a PackedRow is a value and a RowArena belongs to one row
// collection; the owning table guards both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/large_buffer.h"

namespace qm {

// One chunk of an arena; its rows count themselves in `live`.
struct RowChunk {
  LargeBuffer memory;
  std::size_t used = 0;
  std::size_t live = 0;
};

class RowArena {
 public:
  // The expected total of bytes to come (sizes the first chunk).
  void ExpectBytes(std::size_t bytes) { expected_ = bytes; }
  // Room for a row of `size` bytes, counted in `chunk`; nullptr when the row
  // should take a heap block instead (a very large row, or no memory mapped).
  unsigned char* Allocate(std::size_t size, RowChunk*& chunk);
  // Frees every chunk that no longer holds a row.
  void ReleaseEmpty();
  // Takes over the chunks of `other` (whose rows moved here).
  void Adopt(RowArena&& other);
  std::size_t Chunks() const { return chunks_.size(); }

 private:
  std::vector<std::unique_ptr<RowChunk>> chunks_;
  std::size_t expected_ = 0;
};

// Frees a row's heap block, or leaves the arena chunk the row lived in.
struct RowRelease {
  RowChunk* chunk;
  void operator()(unsigned char* data) const;
};

class PackedRow {
 public:
  PackedRow() : data_(nullptr, RowRelease{nullptr}) {}
  PackedRow(PackedRow&&) noexcept = default;
  PackedRow& operator=(PackedRow&&) noexcept = default;

  // Packs the fields (copied), into `arena` when given.
  static PackedRow Pack(std::span<const std::string_view> fields, bool mayNeedEscaping = false,
                        RowArena* arena = nullptr);

  // Number of fields.
  std::size_t size() const;
  bool MayNeedEscaping() const;

  // The field at `index`, or an empty view past the last field.
  std::string_view Field(std::size_t index) const;

  // Every field as a view, in order.
  void Fields(std::vector<std::string_view>& out) const;

  // A copy of the row as owned strings.
  std::vector<std::string> Unpack() const;

  // Sum of the field lengths (for sizing output buffers).
  std::size_t TextBytes() const;

 private:
  std::unique_ptr<unsigned char[], RowRelease> data_;
};

}  // namespace qm
