// The web console's files (page, script, style), compiled into the driver so
// that it serves them with no files installed.
#pragma once

#include <string_view>

namespace qm {

struct ConsoleAsset {
  std::string_view contentType;  // "text/html; charset=utf-8", ...
  std::string_view body;
};

// The asset served at `path` ("/" is the page itself), or nullptr.
const ConsoleAsset* FindConsoleAsset(std::string_view path);

}  // namespace qm
