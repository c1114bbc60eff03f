// Text at the boundary between the program and its widgets: the program's texts are
// in code page 936 (GBK), widgets hold UTF-16.
//
// Thread rules: any thread; both are plain functions of their argument.
#pragma once

#include <QString>
#include <string_view>

#include "text/text.h"

namespace zemlaro::toolkit {

QString ToQString(std::string_view gbk);
Text FromQString(const QString& text);

}  // namespace zemlaro::toolkit
