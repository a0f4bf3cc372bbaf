#include "base/setting_text.h"

#include "platform/utf.h"

namespace qm {
namespace {

constexpr std::size_t kMaxKey = 100;
constexpr std::size_t kMaxValue = 4096;

bool IsKeyCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

std::string SettingKeyProblem(std::string_view key) {
  if (key.empty()) return "a setting needs a name";
  if (key.size() > kMaxKey) return "a setting's name has at most " + std::to_string(kMaxKey) + " characters";
  for (char c : key) {
    if (!IsKeyCharacter(c)) return "a setting's name holds only letters, digits, '.', '_' and '-'";
  }
  return {};
}

std::string SettingValueProblem(std::string_view value) {
  if (value.size() > kMaxValue) return "a value has at most " + std::to_string(kMaxValue) + " bytes";
  if (!IsValidUtf8(value)) return "a value must be UTF-8 text";
  for (char c : value) {
    if (c == '\n' || c == '\r' || c == '\0') return "a value is one line of text";
  }
  return {};
}

}  // namespace

std::string SettingProblem(std::string_view key, std::string_view value) {
  std::string problem = SettingKeyProblem(key);
  return problem.empty() ? SettingValueProblem(value) : problem;
}

}  // namespace qm
