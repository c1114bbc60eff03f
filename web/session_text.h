// Small texts and checks both Internet sessions share: limits as they are told in a
// failure's reason, and the bytes a host name may hold.
//
// Thread rules: plain functions; any thread.
#pragma once

#include <chrono>
#include <cstddef>

#include "text/text.h"

namespace zemlaro {

// "30 s", "0.5 s".
Text Seconds(std::chrono::milliseconds time);
// "16 MiB" for whole mebibytes, else "N bytes".
Text SizeText(std::size_t bytes);
bool IsHostByte(unsigned char c);

}  // namespace zemlaro
