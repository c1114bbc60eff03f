// The private file on Windows. A file under the user's profile (%LOCALAPPDATA%) is
// private by the folder's inherited access list, so the reader does not look for
// other readers (it never reports OpenToOthers). Paths are UTF-8 and go to the
// system's wide-character calls.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "web/private_file.h"

namespace zemlaro {

namespace {

constexpr DWORD kReadChunkBytes = 64 * 1024;

struct FileCloser {
  void operator()(void* handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, FileCloser>;

FileHandle Owned(HANDLE handle) {
  return FileHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// UTF-8 to the system's UTF-16; empty for invalid UTF-8.
std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                       static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), size);
  return wide;
}

bool Fail(std::string* why, const std::string& what, DWORD error) {
  if (why) *why = what + ": Windows error " + std::to_string(error);
  return false;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Makes every missing folder of `folder`.
bool MakeFolders(const std::wstring& folder, const std::string& shown, std::string* why) {
  for (std::size_t at = 0; at <= folder.size(); ++at) {
    if (at != folder.size() && !IsSeparator(folder[at])) continue;
    const std::wstring part = folder.substr(0, at);
    // "C:", "\\", "\\server" and the like are no folders to make.
    if (part.empty() || part.back() == L':' ||
        part.find_first_not_of(L"\\/") == std::wstring::npos) {
      continue;
    }
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      const DWORD error = GetLastError();
      const DWORD attributes = GetFileAttributesW(part.c_str());
      // The shares of a UNC path cannot be made but are there.
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        return Fail(why, "cannot make the folder " + shown, error);
      }
    }
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Fail(why, "cannot use the folder " + shown, ERROR_DIRECTORY);
  }
  return true;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), asked, &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

PrivateFileRead ReadPrivateFile(const std::string& path, std::size_t maxBytes) {
  PrivateFileRead result;
  const std::wstring wide = Wide(path);
  if (wide.empty()) {
    result.status = PrivateFileStatus::Unreadable;
    return result;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    result.status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                        ? PrivateFileStatus::Missing
                        : PrivateFileStatus::Unreadable;
    return result;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    result.status = PrivateFileStatus::NotAFile;
    return result;
  }
  const FileHandle file = Owned(CreateFileW(
      wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    result.status = PrivateFileStatus::Unreadable;
    return result;
  }
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    result.status = PrivateFileStatus::NotAFile;
    return result;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) {
    result.status = PrivateFileStatus::Unreadable;
    return result;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    result.status = PrivateFileStatus::TooLarge;
    return result;
  }
  // Read to the end whatever the size said: the file may grow meanwhile.
  std::string bytes;
  for (;;) {
    const std::size_t at = bytes.size();
    bytes.resize(at + kReadChunkBytes);
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + at, kReadChunkBytes, &got, nullptr)) {
      result.status = PrivateFileStatus::Unreadable;
      return result;
    }
    bytes.resize(at + got);
    if (bytes.size() > maxBytes) {
      result.status = PrivateFileStatus::TooLarge;
      return result;
    }
    if (got == 0) break;
  }
  result.status = PrivateFileStatus::Read;
  result.bytes = std::move(bytes);
  return result;
}

bool ReplacePrivateFile(const std::string& path, std::string_view bytes, std::string* why) {
  if (path.empty()) return Fail(why, "no file named", ERROR_FILE_NOT_FOUND);
  const std::wstring target = Wide(path);
  if (target.empty()) return Fail(why, "the path is not valid UTF-8", ERROR_INVALID_NAME);
  std::size_t cut = target.size();
  while (cut > 0 && !IsSeparator(target[cut - 1])) --cut;
  if (cut > 0) {
    const std::wstring folder = target.substr(0, cut - 1);
    const std::string shown = path.substr(0, path.find_last_of("\\/"));
    if (!folder.empty() && folder.back() != L':' && !MakeFolders(folder, shown, why)) return false;
  }

  static std::atomic<unsigned> counter{0};
  const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(++counter) + L".tmp";
  const std::string temporaryShown = path + ".tmp";
  bool written = false;
  {
    const FileHandle file =
        Owned(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr));
    if (!file) return Fail(why, "cannot make a temporary file beside " + path, GetLastError());
    written = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
  }
  if (!written || !MoveFileExW(temporary.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    return Fail(why, written ? "cannot replace " + path : "cannot write " + temporaryShown, error);
  }
  return true;
}

}  // namespace zemlaro
