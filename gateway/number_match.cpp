#include "gateway/number_match.h"

#include <cstddef>
#include <string>

namespace qm {
namespace {

enum class NumberFormat { kUnknown, kInternational, kNational };

struct Number {
  NumberFormat format = NumberFormat::kUnknown;
  std::string digits;  // without the prefix
};

// Below this a tail match would pair unrelated numbers too easily.
constexpr std::size_t kMinTailDigits = 6;

std::string_view Trimmed(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash != std::string_view::npos) text = text.substr(0, slash);
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsAlphanumeric(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')) return true;
  }
  return false;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

Number ParseNumber(std::string_view text) {
  Number number;
  for (const char c : text) {
    if (c >= '0' && c <= '9') number.digits += c;
  }
  if (!text.empty() && text.front() == '+') {
    number.format = NumberFormat::kInternational;
  } else if (number.digits.starts_with("00")) {
    number.format = NumberFormat::kInternational;
    number.digits.erase(0, 2);
  } else if (number.digits.starts_with('0')) {
    number.format = NumberFormat::kNational;
    number.digits.erase(0, 1);
  }
  return number;
}

}  // namespace

bool SameSubscriber(std::string_view a, std::string_view b) {
  a = Trimmed(a);
  b = Trimmed(b);
  if (a.empty() || b.empty()) return false;
  if (IsAlphanumeric(a) || IsAlphanumeric(b)) return EqualIgnoringCase(a, b);
  const Number x = ParseNumber(a);
  const Number y = ParseNumber(b);
  if (x.digits.empty() || y.digits.empty()) return false;
  if (x.digits == y.digits) return true;
  // Both carry their full number in the same format: nothing is left out.
  if (x.format == y.format && x.format != NumberFormat::kUnknown) return false;
  const std::string& shorter = x.digits.size() < y.digits.size() ? x.digits : y.digits;
  const std::string& longer = x.digits.size() < y.digits.size() ? y.digits : x.digits;
  return shorter.size() >= kMinTailDigits && longer.ends_with(shorter);
}

}  // namespace qm
