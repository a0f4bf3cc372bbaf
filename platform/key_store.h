// A file-backed key/value store standing in for a registry key.
//
// One file per key: <root>/<subkey with "\" as "/">.reg, where the root is
// $XDG_CONFIG_HOME/quillmoor/registry for the current user and
// <service home>/registry for the service account. Values are text and keep
// any content (line breaks included); they are enumerated in the order they
// were first written. Files are private (0600: they may hold passwords) and
// replaced atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace qm {

enum class KeyRoot {
  kCurrentUser,     // HKEY_CURRENT_USER
  kServiceAccount,  // HKEY_USERS\S-1-5-18
};

struct KeyValue {
  std::string name;
  std::string data;
};

// The file that holds `subkey` under `root`.
std::string KeyFilePath(KeyRoot root, std::string_view subkey);

// All values of a key in enumeration order; nullopt when the key does not
// exist or cannot be read.
std::optional<std::vector<KeyValue>> ReadKeyValues(KeyRoot root, std::string_view subkey,
                                                   SysError* err = nullptr);

// Sets the given values on the key (creating it), keeping other values it
// holds. All or nothing.
bool WriteKeyValues(KeyRoot root, std::string_view subkey, const std::vector<KeyValue>& values,
                    SysError* err = nullptr);

// Opens the root for reading and writing (creating its folder when
// missing); false when this process may not use it.
bool OpenKeyRoot(KeyRoot root, SysError* err = nullptr);

// Removes the key and its values. True when it no longer exists.
bool DeleteKey(KeyRoot root, std::string_view subkey);

// The file format, exposed for tests: one "name=data" line per value with
// backslash escapes for "\", "=" and control characters.
std::string SerializeKeyValues(const std::vector<KeyValue>& values);
std::vector<KeyValue> ParseKeyValues(std::string_view text);

}  // namespace qm
