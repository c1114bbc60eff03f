# nlohmann_json for cross-builds. The library is header-only, so Debian's package
# serves any target; its headers are copied into the build folder, as the package's
# own target would put all of /usr/include (the build machine's C library) on the
# cross compiler's path.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(_zemlaro_json_include ${CMAKE_BINARY_DIR}/cross-include)
  file(COPY /usr/include/nlohmann DESTINATION ${_zemlaro_json_include})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_zemlaro_json_include})
  unset(_zemlaro_json_include)
endif()
