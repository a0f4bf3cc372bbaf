# The web console's page, script and style, compiled into qm_web as a table
# behind FindConsoleAsset (web/console_assets.h), so that the driver serves
# them with nothing installed. Included from the top CMakeLists; run with -P
# (OUTPUT, ASSET_DIR) it writes that table.
# Each: the path served, the file, its media type (all three are UTF-8 text).
set(QM_CONSOLE_ASSETS
    "/|index.html|text/html"
    "/console.js|console.js|text/javascript"
    "/console.css|console.css|text/css")

if(CMAKE_SCRIPT_MODE_FILE)
  # Every byte as a \x escape: no text can end the literal, and any encoding survives.
  string(REPEAT "[0-9a-f][0-9a-f]" 32 line_of_bytes)
  set(bodies "")
  set(entries "")
  set(index 0)
  foreach(asset ${QM_CONSOLE_ASSETS})
    string(REPLACE "|" ";" fields "${asset}")
    list(GET fields 0 path)
    list(GET fields 1 file)
    list(GET fields 2 type)
    file(READ "${ASSET_DIR}/${file}" hex HEX)
    string(REGEX REPLACE "(${line_of_bytes})" "\\1\n" hex "${hex}")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" hex "${hex}")
    string(REPLACE "\n" "\"\n    \"" hex "${hex}")
    string(APPEND bodies "// ${file}\nconstexpr char kBody${index}[] =\n    \"${hex}\";\n")
    set(body "{kBody${index}, sizeof kBody${index} - 1}")
    string(APPEND entries "    {\"${path}\", {\"${type}; charset=utf-8\", ${body}}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  file(WRITE "${OUTPUT}.new" "// Generated from web/console/ by web/console/console.cmake; do not edit.
#include <string_view>

#include \"web/console_assets.h\"

namespace qm {
namespace {

${bodies}
struct Entry {
  std::string_view path;
  ConsoleAsset asset;
};

constexpr Entry kAssets[] = {
${entries}};

}  // namespace

const ConsoleAsset* FindConsoleAsset(std::string_view path) {
  path = path.substr(0, path.find('?'));
  if (path == \"/index.html\") path = \"/\";
  for (const Entry& entry : kAssets) {
    if (entry.path == path) return &entry.asset;
  }
  return nullptr;
}

}  // namespace qm
")
  file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUTPUT}.new")
  return()
endif()

set(QM_CONSOLE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QM_CONSOLE_FILES ${QM_CONSOLE_DIR}/index.html ${QM_CONSOLE_DIR}/console.js ${QM_CONSOLE_DIR}/console.css)
set(QM_CONSOLE_SOURCE ${CMAKE_BINARY_DIR}/generated/web/console_assets.cpp)
add_custom_command(
  OUTPUT ${QM_CONSOLE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DASSET_DIR=${QM_CONSOLE_DIR} -DOUTPUT=${QM_CONSOLE_SOURCE}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${QM_CONSOLE_FILES} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Compiling the web console's files in")
target_sources(qm_web PRIVATE ${QM_CONSOLE_SOURCE})

# Installed as well, for reading and for a reverse proxy that serves them itself.
include(GNUInstallDirs)
install(FILES ${QM_CONSOLE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/qmdriver/console)
