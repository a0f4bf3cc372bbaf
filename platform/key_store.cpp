#include "platform/key_store.h"

#include <unistd.h>

#include <cerrno>

#include "platform/environment.h"
#include "platform/file_util.h"

namespace qm {
namespace {

constexpr std::string_view kHeader = "# quillmoor key store\n";

void AppendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '=') {
      out += "\\=";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    } else {
      out.push_back(c);
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Unescapes text up to an unescaped '=' (when stopAtEquals) or the end.
// Returns the position after the consumed text.
std::size_t Unescape(std::string_view text, std::size_t pos, bool stopAtEquals, std::string& out) {
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '=' && stopAtEquals) return pos;
    if (c != '\\' || pos + 1 >= text.size()) {
      out.push_back(c);
      ++pos;
      continue;
    }
    const char e = text[pos + 1];
    pos += 2;
    switch (e) {
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 'x':
        if (pos + 1 < text.size() && HexValue(text[pos]) >= 0 && HexValue(text[pos + 1]) >= 0) {
          out.push_back(static_cast<char>(HexValue(text[pos]) * 16 + HexValue(text[pos + 1])));
          pos += 2;
        }
        break;
      default:
        out.push_back(e);
    }
  }
  return pos;
}

std::string RootFolder(KeyRoot root) {
  return root == KeyRoot::kServiceAccount ? ServiceHome() + "/registry"
                                          : ConfigHome() + "/quillmoor/registry";
}

}  // namespace

std::string KeyFilePath(KeyRoot root, std::string_view subkey) {
  std::string rel;
  for (char c : subkey) rel.push_back(c == '\\' ? '/' : c);
  // No way out of the root through the subkey.
  std::string clean;
  std::size_t start = 0;
  while (start <= rel.size()) {
    auto end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    const std::string part = rel.substr(start, end - start);
    if (!part.empty() && part != "." && part != "..") clean += "/" + part;
    start = end + 1;
  }
  return RootFolder(root) + clean + ".reg";
}

std::string SerializeKeyValues(const std::vector<KeyValue>& values) {
  std::string out(kHeader);
  for (const auto& v : values) {
    AppendEscaped(out, v.name);
    out.push_back('=');
    AppendEscaped(out, v.data);
    out.push_back('\n');
  }
  return out;
}

std::vector<KeyValue> ParseKeyValues(std::string_view text) {
  std::vector<KeyValue> values;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    KeyValue kv;
    const std::size_t eq = Unescape(line, 0, true, kv.name);
    if (eq >= line.size()) continue;  // no separator: not a value
    Unescape(line, eq + 1, false, kv.data);
    values.push_back(std::move(kv));
  }
  return values;
}

std::optional<std::vector<KeyValue>> ReadKeyValues(KeyRoot root, std::string_view subkey, SysError* err) {
  auto text = ReadWholeFile(KeyFilePath(root, subkey), err);
  if (!text) return std::nullopt;
  return ParseKeyValues(*text);
}

bool WriteKeyValues(KeyRoot root, std::string_view subkey, const std::vector<KeyValue>& values,
                    SysError* err) {
  const std::string path = KeyFilePath(root, subkey);
  if (!MakeDirectories(DirName(path), 0700, err)) return false;
  std::vector<KeyValue> merged;
  if (auto existing = ReadKeyValues(root, subkey)) merged = std::move(*existing);
  for (const auto& v : values) {
    bool replaced = false;
    for (auto& m : merged) {
      if (m.name == v.name) {
        m.data = v.data;
        replaced = true;
        break;
      }
    }
    if (!replaced) merged.push_back(v);
  }
  return WriteFileAtomically(path, SerializeKeyValues(merged), 0600, err);
}

bool OpenKeyRoot(KeyRoot root, SysError* err) {
  const std::string folder = RootFolder(root);
  if (!MakeDirectories(folder, 0700, err)) return false;
  if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
    if (err) *err = SysErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool DeleteKey(KeyRoot root, std::string_view subkey) {
  const std::string path = KeyFilePath(root, subkey);
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace qm
