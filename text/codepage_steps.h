// The UTF-8 to code page 936 conversion of Utf8ToGbk, a piece at a time, for the
// scans that read the converted text as it is made. Internal to the text library.
// Plain functions; any thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace zemlaro::detail {

// The most bytes one step of the conversion writes: a run of sixteen ASCII bytes,
// or a character with the spare byte its two-byte store leaves.
inline constexpr std::size_t kGbkStepBytes = 16;

// Converts `text` from byte `at` on, as Utf8ToGbk(text) converts it, into `out`,
// and moves `at` past what it read. It stops at the end of the text, at a zero byte
// (`at` then becomes text.size(): the rest is never converted) or once `room` bytes
// or more are written; `out` needs room + kGbkStepBytes bytes. Returns the number of
// bytes written. Pieces converted one after another make up Utf8ToGbk(text) exactly,
// as each step reads whole characters.
std::size_t Utf8ToGbkSome(std::string_view text, std::size_t& at, char* out, std::size_t room);

}  // namespace zemlaro::detail
