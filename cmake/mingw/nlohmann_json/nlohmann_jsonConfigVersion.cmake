# The version of Debian's nlohmann-json3-dev, whose headers the cross-build uses.
include(/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake)
