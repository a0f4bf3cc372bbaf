// A bounds-checked cursor over the octets of a PDU.
//
// Every read checks the remaining length first. A failed read leaves the
// cursor where it was and records the name of the field that was missing, so
// a decoder can stop at the first failure and say why ("cannot read TP-UDL").
// Header-only, no allocation; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm {

class PduReader {
 public:
  explicit PduReader(std::string_view data, std::size_t pos = 0) : data_(data), pos_(pos) {}

  std::size_t pos() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return pos_ < data_.size() ? data_.size() - pos_ : 0; }
  bool AtEnd() const { return remaining() == 0; }

  // The name of the first field that could not be read, or nullptr.
  const char* failure() const { return failure_; }

  // Reads one octet into `out`.
  bool Octet(uint8_t& out, const char* field) {
    if (remaining() < 1) return Fail(field);
    out = static_cast<uint8_t>(data_[pos_++]);
    return true;
  }

  // The octet at the cursor without moving.
  bool Peek(uint8_t& out, const char* field) {
    if (remaining() < 1) return Fail(field);
    out = static_cast<uint8_t>(data_[pos_]);
    return true;
  }

  // Takes `n` octets.
  bool Take(std::size_t n, std::string_view& out, const char* field) {
    if (remaining() < n) return Fail(field);
    out = data_.substr(pos_, n);
    pos_ += n;
    return true;
  }

  bool Skip(std::size_t n, const char* field) {
    std::string_view ignored;
    return Take(n, ignored, field);
  }

  // Everything from the cursor to the end.
  std::string_view Rest() {
    std::string_view out = data_.substr(pos_ < data_.size() ? pos_ : data_.size());
    pos_ = data_.size();
    return out;
  }

  bool Fail(const char* field) {
    if (failure_ == nullptr) failure_ = field;
    return false;
  }

 private:
  std::string_view data_;
  std::size_t pos_;
  const char* failure_ = nullptr;
};

}  // namespace qm
