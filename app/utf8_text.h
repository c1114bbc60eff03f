// QString from this program's own UTF-8 texts (captions, object names, messages).
// The build forbids the implicit conversions, so every text says its encoding here.
//
// Thread rules: plain functions; any thread.
#pragma once

#include <QString>
#include <string>

namespace zemlaro {

inline QString U(const char* utf8) { return QString::fromUtf8(utf8); }
inline QString U(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace zemlaro
