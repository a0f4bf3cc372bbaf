// What a setting's name and value may hold when a user or a client sets one
// by name: the store's file keeps one "key=value" per line, so a line break
// in a value, or a "=" in a name, would turn into other settings.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// Empty when `key` may name a setting and `value` may be stored under it,
// else why not (the name's problem first).
std::string SettingProblem(std::string_view key, std::string_view value);

}  // namespace qm
