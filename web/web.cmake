# The web floor's libraries: cpp-httplib (Debian's build, with OpenSSL for
# HTTPS) and nlohmann-json; and web/openapi.json compiled in.
pkg_check_modules(CPPHTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(qm_web PUBLIC PkgConfig::CPPHTTPLIB nlohmann_json::nlohmann_json OpenSSL::SSL OpenSSL::Crypto)

set(QM_OPENAPI_JSON ${CMAKE_SOURCE_DIR}/web/openapi.json)
file(READ ${QM_OPENAPI_JSON} QM_OPENAPI_TEXT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QM_OPENAPI_JSON})
file(WRITE ${CMAKE_BINARY_DIR}/generated/web/openapi_document.cpp.new
     "// Generated from web/openapi.json.\n#include \"web/openapi_document.h\"\n\nnamespace qm {\n\n"
     "std::string_view OpenApiDocument() {\n  static constexpr std::string_view kText = R\"qmjson(${QM_OPENAPI_TEXT})qmjson\";\n"
     "  return kText;\n}\n\n}  // namespace qm\n")
file(COPY_FILE ${CMAKE_BINARY_DIR}/generated/web/openapi_document.cpp.new
     ${CMAKE_BINARY_DIR}/generated/web/openapi_document.cpp ONLY_IF_DIFFERENT)
target_sources(qm_web PRIVATE ${CMAKE_BINARY_DIR}/generated/web/openapi_document.cpp)
