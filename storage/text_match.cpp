#include "storage/text_match.h"

#include "platform/utf.h"

namespace qm {
namespace {

bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// Folds `field` into `out` (reusing its storage). ASCII is lowered in place;
// from the first other byte on, the common Unicode folding takes over.
// Returns true when the field was plain ASCII.
bool FoldInto(std::string_view field, std::string& out) {
  out.resize(field.size());
  std::size_t i = 0;
  for (; i < field.size(); ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    if (c >= 0x80) break;
    out[i] = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
  }
  if (i == field.size()) return true;
  out.resize(i);
  AppendFoldedCase(field.substr(i), out);
  return false;
}

}  // namespace

CaseInsensitiveMatcher::CaseInsensitiveMatcher(std::string_view value)
    : folded_(FoldCase(value)), asciiValue_(IsAscii(folded_)) {}

bool CaseInsensitiveMatcher::Equals(std::string_view field) {
  if (IsAscii(field)) {
    // Folding never maps a non-ASCII character to ASCII or changes an ASCII
    // text's length.
    if (!asciiValue_ || field.size() != folded_.size()) return false;
    for (std::size_t i = 0; i < field.size(); ++i) {
      if (AsciiLower(field[i]) != folded_[i]) return false;
    }
    return true;
  }
  FoldInto(field, scratch_);
  return scratch_ == folded_;
}

bool CaseInsensitiveMatcher::IsIn(std::string_view field) {
  if (folded_.empty()) return true;
  // An ASCII field cannot hold a value with other characters, nor one longer
  // than itself.
  if ((!asciiValue_ || field.size() < folded_.size()) && IsAscii(field)) return false;
  FoldInto(field, scratch_);
  return scratch_.find(folded_) != std::string::npos;
}

}  // namespace qm
