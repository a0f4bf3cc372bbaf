// Expansion of "%name%" references in configured paths.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// Replaces "%name%" references left to right with the variable's value; "%%"
// stays as it is; an undefined variable disappears. Names are matched
// ignoring case. With `useServiceProfile` the name "appdata" means the
// service account's folder. Any thread.
std::string ExpandPathVariables(std::string_view text, bool useServiceProfile);

}  // namespace qm
