// A minimal writer for one-line JSON objects with string, integer and boolean
// members, in the order they are added.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class JsonObjectWriter {
 public:
  void Add(std::string_view key, std::string_view value);
  void Add(std::string_view key, const char* value) { Add(key, std::string_view(value)); }
  void Add(std::string_view key, int64_t value);
  void Add(std::string_view key, int value) { Add(key, static_cast<int64_t>(value)); }
  void Add(std::string_view key, uint32_t value) { Add(key, static_cast<int64_t>(value)); }
  void Add(std::string_view key, bool value);
  // The object text, "{...}", without a line end.
  std::string Finish() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};

// A JSON string literal of UTF-8 text (invalid sequences become U+FFFD).
std::string JsonString(std::string_view text);

}  // namespace qm
