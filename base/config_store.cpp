#include "base/config_store.h"

#include <climits>

#include "platform/file_util.h"
#include "platform/utf.h"

namespace qm {
namespace {

// A value cannot hold a line break in the file: it would end the line and the
// rest would be read as a setting of its own.
std::string FileSafeValue(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

std::string ConfigStore::FormatKey(std::string_view format, int index) {
  std::string key;
  const auto pos = format.find("%d");
  if (pos == std::string_view::npos) return std::string(format);
  key.append(format.substr(0, pos));
  key.append(std::to_string(index));
  key.append(format.substr(pos + 2));
  return key;
}

int32_t ConfigStore::ParseInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

std::string ConfigStore::GetString(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto it = values_.find(key);
  return it == values_.end() ? std::string() : it->second;
}

int32_t ConfigStore::GetInt(std::string_view key) const { return ParseInt(GetString(key)); }

std::string ConfigStore::GetFormatted(std::string_view format, int index) const {
  return GetString(FormatKey(format, index));
}

bool ConfigStore::Contains(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return values_.find(key) != values_.end();
}

void ConfigStore::SetLocked(std::string_view key, std::string_view value) {
  const auto it = values_.find(key);
  if (it != values_.end()) {
    it->second.assign(value);
  } else {
    values_.emplace(std::string(key), std::string(value));
  }
}

void ConfigStore::SetString(std::string_view key, std::string_view value) {
  std::lock_guard lock(mutex_);
  SetLocked(key, value);
}

void ConfigStore::SetInt(std::string_view key, int32_t value) { SetString(key, std::to_string(value)); }

void ConfigStore::SetFormatted(std::string_view format, int index, std::string_view value) {
  SetString(FormatKey(format, index), value);
}

void ConfigStore::LoadFromText(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!last && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;

    lines_.emplace_back(line);
    if (line.empty() || line[0] == '#' || line[0] == '=') continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view value = line.substr(eq + 1);
    SetLocked(line.substr(0, eq), IsValidUtf8(value) ? value : std::string_view());
  }
}

bool ConfigStore::LoadFromFile(const std::string& path) {
  auto text = ReadWholeFile(path);
  if (!text) return false;
  LoadFromText(*text);
  return true;
}

std::string ConfigStore::ToFileText() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines = lines_;
  for (const auto& [key, value] : values_) {
    const std::string prefix = key + "=";
    std::string line = prefix + FileSafeValue(value);
    bool found = false;
    for (auto& existing : lines) {
      if (existing.compare(0, prefix.size(), prefix) == 0) {
        existing = std::move(line);
        found = true;
        break;
      }
    }
    if (!found) lines.push_back(std::move(line));
  }
  std::string out;
  for (const auto& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

bool ConfigStore::SaveToFile(const std::string& path) const {
  return WriteFileAtomically(path, ToFileText(), 0600);
}

bool ConfigStore::LoadFromRegistry(KeyRoot root, std::string_view subkey) {
  auto values = ReadKeyValues(root, subkey);
  if (!values) return false;
  {
    std::lock_guard lock(mutex_);
    for (const auto& v : *values) {
      if (!v.name.empty()) SetLocked(v.name, v.data);
    }
  }
  return values->size() >= 2;
}

bool ConfigStore::SaveToRegistry(KeyRoot root, std::string_view subkey) const {
  std::vector<KeyValue> out;
  {
    std::lock_guard lock(mutex_);
    out.reserve(values_.size());
    for (const auto& [key, value] : values_) {
      if (!key.empty() && static_cast<unsigned char>(key[0]) >= 0x80) continue;
      out.push_back(KeyValue{key, value});
    }
  }
  return WriteKeyValues(root, subkey, out);
}

std::vector<std::string> ConfigStore::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::map<std::string, std::string, std::less<>> ConfigStore::Values() const {
  std::lock_guard lock(mutex_);
  return values_;
}

}  // namespace qm
