#include "tools/qmctl/json_writer.h"

#include <cstdio>

#include "platform/utf.h"

namespace qm {

std::string JsonString(std::string_view text) {
  const std::string clean = SanitizeUtf8(text);
  std::string out;
  out.reserve(clean.size() + 2);
  out.push_back('"');
  for (char c : clean) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

void JsonObjectWriter::Key(std::string_view key) {
  if (body_.size() > 1) body_.push_back(',');
  body_ += JsonString(key);
  body_.push_back(':');
}

void JsonObjectWriter::Add(std::string_view key, std::string_view value) {
  Key(key);
  body_ += JsonString(value);
}

void JsonObjectWriter::Add(std::string_view key, int64_t value) {
  Key(key);
  body_ += std::to_string(value);
}

void JsonObjectWriter::Add(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
}

}  // namespace qm
