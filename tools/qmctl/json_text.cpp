#include "tools/qmctl/json_text.h"

#include <cctype>

#include "platform/utf.h"

namespace qm {
namespace {

// A copy of `value` whose strings (keys too) are valid UTF-8, so that the
// replacement is ours and the serializer never throws.
Json Sanitized(const Json& value) {
  if (value.is_string()) return SanitizeUtf8(value.get_ref<const std::string&>());
  if (value.is_array()) {
    Json out = Json::array();
    for (const Json& item : value) out.push_back(Sanitized(item));
    return out;
  }
  if (value.is_object()) {
    Json out = Json::object();
    for (const auto& [key, item] : value.items()) out[SanitizeUtf8(key)] = Sanitized(item);
    return out;
  }
  return value;
}

}  // namespace

std::string JsonLine(const Json& value) {
  const std::string dumped = Sanitized(value).dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const char c = dumped[i];
    if (c == 0x7F) {
      out += "\\u007F";
    } else if (c == '\\' && i + 1 < dumped.size()) {
      // An escape: copied whole, so an escaped backslash is never taken for
      // the start of another one; the digits of \uXXXX in upper case.
      out += c;
      out += dumped[++i];
      if (dumped[i] == 'u') {
        for (int k = 0; k < 4 && i + 1 < dumped.size(); ++k) {
          out += static_cast<char>(std::toupper(static_cast<unsigned char>(dumped[++i])));
        }
      }
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace qm
