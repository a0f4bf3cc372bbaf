// Case-insensitive comparison of many fields against one value, as the table
// searches need it: the value is folded once, and a field that is plain ASCII
// (nearly all of them: numbers, identifiers, most texts) is compared without
// building a folded copy. Other fields use the common Unicode folding of
// platform/utf.h, so results agree with FoldCase everywhere.
//
// Thread safety: a matcher has scratch space; use one per thread.
#pragma once

#include <string>
#include <string_view>

namespace qm {

class CaseInsensitiveMatcher {
 public:
  explicit CaseInsensitiveMatcher(std::string_view value);

  // The field equals the value (same length, equal after case folding).
  bool Equals(std::string_view field);
  // The value occurs in the field; an empty value is in every field.
  bool IsIn(std::string_view field);

 private:
  std::string folded_;
  bool asciiValue_;
  std::string scratch_;
};

}  // namespace qm
