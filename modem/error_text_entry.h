// One row of a modem error-code text table.
#pragma once

#include <cstddef>
#include <string_view>

namespace qm {

struct ErrorTextEntry {
  int code;
  std::string_view text;
};

// The text for `code`, or an empty view when the table has none.
template <std::size_t N>
constexpr std::string_view LookUpErrorText(const ErrorTextEntry (&table)[N], int code) {
  for (const auto& entry : table) {
    if (entry.code == code) return entry.text;
  }
  return {};
}

}  // namespace qm
