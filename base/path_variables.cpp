#include "base/path_variables.h"

#include "platform/environment.h"
#include "platform/utf.h"

namespace qm {

std::string ExpandPathVariables(std::string_view text, bool useServiceProfile) {
  std::string out(text);
  std::size_t pos = 0;
  for (;;) {
    const auto open = out.find('%', pos);
    if (open == std::string::npos) break;
    if (open + 1 < out.size() && out[open + 1] == '%') {
      pos = open + 2;
      continue;
    }
    const auto close = out.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string name = out.substr(open + 1, close - open - 1);
    std::string value;
    if (useServiceProfile && EqualsIgnoreCase(name, "appdata")) {
      value = ServiceHome();
    } else if (auto v = LookupVariable(name)) {
      value = *v;
    }
    out.replace(open, close - open + 1, value);
    pos = open + value.size();
  }
  return out;
}

}  // namespace qm
