// The MD5 digest of the current service's signature, from the platform's own
// library: OpenSSL on Linux (md5_openssl.cpp), BCrypt on Windows (md5_bcrypt.cpp);
// search/CMakeLists.txt builds one of the two.
// A plain function; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zemlaro::detail {

inline constexpr std::size_t kMd5Bytes = 16;

// The 16 bytes of MD5(input), or an empty string when the library fails.
std::string Md5Digest(std::string_view input);

}  // namespace zemlaro::detail
