// A small file that holds secrets of the user's, such as the cookie store: read only
// when it is a regular file that no other user may read, and replaced whole, never
// written in place. Messages name paths, never contents.
//
// Thread rules: any thread. Replacements of one path from several threads or
// programs at once each leave a whole file; the last rename wins.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zemlaro {

enum class PrivateFileStatus {
  Read,
  Missing,       // no such file (or folder on its way)
  NotAFile,      // a folder, a device, a pipe…
  OpenToOthers,  // group or others may read it: not read
  Unreadable,    // there, but opening or reading it failed
  TooLarge,      // more than the bytes allowed: not read
};

struct PrivateFileRead {
  PrivateFileStatus status = PrivateFileStatus::Missing;
  std::string bytes;  // the whole file when status is Read
};

PrivateFileRead ReadPrivateFile(const std::string& path, std::size_t maxBytes);

// Writes `bytes` to a temporary file in the same folder, flushes it to the disk and
// renames it over `path`. Folders missing on the way are made with mode 0700; the
// file gets mode 0600. False on failure, with the reason in `why` when given.
bool ReplacePrivateFile(const std::string& path, std::string_view bytes, std::string* why);

}  // namespace zemlaro
