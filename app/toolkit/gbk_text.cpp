#include "app/toolkit/gbk_text.h"

#include <QByteArray>

#include "text/codepage.h"

namespace zemlaro::toolkit {

QString ToQString(std::string_view gbk) {
  if (gbk.empty()) return {};
  const Text utf8 = GbkToUtf8(gbk);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

Text FromQString(const QString& text) {
  if (text.isEmpty()) return {};
  const QByteArray utf8 = text.toUtf8();
  return Utf8ToGbk(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

}  // namespace zemlaro::toolkit
