// Property checks for the fuzz targets: a broken property prints what broke, with
// the texts involved as escaped bytes, and traps so that libFuzzer keeps the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zemlaro::fuzz {

// Printable ASCII as is, every other byte as \xHH, in double quotes.
inline std::string Escaped(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
      out.push_back(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out + "\"";
}

inline std::string Escaped(const std::vector<std::uint8_t>& bytes) {
  return Escaped(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The input bytes without their zero bytes (a Text holds none).
inline std::string WithoutZeros(const std::uint8_t* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != 0) out.push_back(static_cast<char>(data[i]));
  }
  return out;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* condition,
                              const std::string& details) {
  std::fprintf(stderr, "zemlaro-fuzz: property broken at %s:%d: %s\n%s\n", file, line, condition,
               details.c_str());
  std::fflush(stderr);
  __builtin_trap();
}

}  // namespace zemlaro::fuzz

// FUZZ_CHECK(condition, details): details is a std::string expression, built only
// when the condition fails.
#define FUZZ_CHECK(condition, details)                                                  \
  do {                                                                                  \
    if (!(condition)) ::zemlaro::fuzz::Fail(__FILE__, __LINE__, #condition, (details)); \
  } while (0)
