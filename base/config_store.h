// The process-wide key/value store of every setting.
//
// Keys are dotted ASCII names compared bytewise; values are UTF-8 text. A key
// that is absent reads as "" and as 0. Setters change memory only; a caller
// that wants a change to last saves the configuration afterwards.
//
// The store remembers the lines of the file it was loaded from, so a save
// keeps comments, blank lines and the order of the file.
//
// Thread safety: every member may be called from any thread; one lock guards
// both members.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/key_store.h"

namespace qm {

class ConfigStore {
 public:
  std::string GetString(std::string_view key) const;
  // C-library conversion: leading white space, optional sign, decimal digits
  // up to the first non-digit; no digits give 0; clamped to 32 bits.
  int32_t GetInt(std::string_view key) const;
  // The key is `format` with its "%d" replaced by `index`.
  std::string GetFormatted(std::string_view format, int index) const;

  void SetString(std::string_view key, std::string_view value);
  void SetInt(std::string_view key, int32_t value);
  void SetFormatted(std::string_view format, int index, std::string_view value);

  // True when the key is present (even with an empty value).
  bool Contains(std::string_view key) const;

  // Adds the lines and settings of a file (nothing is cleared first).
  bool LoadFromFile(const std::string& path);
  // Writes the remembered lines, with every value updated or appended.
  bool SaveToFile(const std::string& path) const;
  // Loads every value of a key; fewer than two values count as not loaded.
  bool LoadFromRegistry(KeyRoot root, std::string_view subkey);
  // Writes every value to a key; names starting at or above U+0080 are skipped.
  bool SaveToRegistry(KeyRoot root, std::string_view subkey) const;

  // Applies the file's line rules to text already in memory.
  void LoadFromText(std::string_view text);
  // The file content SaveToFile would write.
  std::string ToFileText() const;

  // Snapshots, for tests and tools.
  std::vector<std::string> Lines() const;
  std::map<std::string, std::string, std::less<>> Values() const;

  // The key a list format names: "port.%d.name" with 3 gives "port.3.name".
  static std::string FormatKey(std::string_view format, int index);
  // The C-library wide-to-integer rule on a text.
  static int32_t ParseInt(std::string_view text);

 private:
  void SetLocked(std::string_view key, std::string_view value);

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace qm
