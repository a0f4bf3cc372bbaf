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
// Thread safety: a PackedRow is a value; the owning table guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class PackedRow {
 public:
  PackedRow() = default;
  PackedRow(PackedRow&&) noexcept = default;
  PackedRow& operator=(PackedRow&&) noexcept = default;

  // Packs the fields (copied).
  static PackedRow Pack(std::span<const std::string_view> fields, bool mayNeedEscaping = false);

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
  std::unique_ptr<unsigned char[]> data_;
};

}  // namespace qm
