# nlohmann-json, header-only, from the build machine's Debian package. The
# MinGW cross compiler does not search /usr/include, and giving it that whole
# folder would bring the build machine's C library headers along; so the build
# tree holds a folder with a link to nlohmann/ alone, and every build, native
# or cross, takes the header from there.
find_path(KW9_NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp
  PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED
  DOC "The folder that holds nlohmann/json.hpp (Debian: nlohmann-json3-dev)")
set(KW9_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${KW9_THIRD_PARTY_INCLUDE})
file(CREATE_LINK ${KW9_NLOHMANN_JSON_INCLUDE_DIR}/nlohmann ${KW9_THIRD_PARTY_INCLUDE}/nlohmann SYMBOLIC)
add_library(kw9_nlohmann_json INTERFACE)
target_include_directories(kw9_nlohmann_json SYSTEM INTERFACE ${KW9_THIRD_PARTY_INCLUDE})
