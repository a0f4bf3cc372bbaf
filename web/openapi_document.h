// The API's OpenAPI 3 description (web/openapi.json), compiled in by
// web/web.cmake so that the driver serves it with no files installed.
#pragma once

#include <string_view>

namespace qm {

std::string_view OpenApiDocument();

}  // namespace qm
