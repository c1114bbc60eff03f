// The table files on Windows: the write-then-rename step over the platform's file
// calls. Paths are UTF-8 and go to the wide (UTF-16) calls. There is no workbook
// library in this build.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "search/table_export.h"

namespace zemlaro {
namespace {

// The system's own words for a Win32 error code, in UTF-8, without the full stop
// and line end that end them; the code itself when the system has no words.
std::string SystemReason(DWORD error) {
  wchar_t* words = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
  std::string reason;
  if (length > 0) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, words, static_cast<int>(length), nullptr, 0,
                                            nullptr, nullptr);
    if (bytes > 0) {
      reason.resize(static_cast<std::size_t>(bytes));
      ::WideCharToMultiByte(CP_UTF8, 0, words, static_cast<int>(length), reason.data(), bytes,
                            nullptr, nullptr);
    }
  }
  if (words != nullptr) ::LocalFree(words);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                             reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "error " + std::to_string(error) : reason;
}

bool Fail(std::string* why, const std::string& path, const std::string& reason) {
  if (why != nullptr) *why = path + ": " + reason;
  return false;
}

// The UTF-16 form of UTF-8 `text`; false when it is not well-formed UTF-8.
bool Wide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return false;
  wide->resize(static_cast<std::size_t>(units));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                               static_cast<int>(text.size()), wide->data(), units) == units;
}

// Owns one file handle.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }

  HANDLE Get() const { return handle_; }
  // Closes now; false when the system reports an error.
  bool Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// A file beside `path` that no other file has: ".<name>.<pid>-<n>-<ticks>.tmp" in
// the same folder, created empty. It is removed when the owner goes, unless Keep()
// says it has been renamed into place.
class TemporaryFile {
 public:
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    file_.Close();
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }

  // Null with the system's error in `error` when the folder takes no new file.
  static std::unique_ptr<TemporaryFile> Create(const std::wstring& path, DWORD* error) {
    static std::atomic<unsigned> counter{0};
    const std::wstring::size_type slash = path.find_last_of(L"/\\");
    const std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    // Part of the name only, so that the temporary name is not too long where the
    // name itself is not.
    const std::wstring name = path.substr(slash == std::wstring::npos ? 0 : slash + 1, 160);
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::wstring candidate =
          folder + L"." + name + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(counter++) + L"-" + std::to_wstring(::GetTickCount64()) + L".tmp";
      const HANDLE handle = ::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        return std::unique_ptr<TemporaryFile>(new TemporaryFile(candidate, handle));
      }
      const DWORD failure = ::GetLastError();
      if (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS) {
        *error = failure;
        return nullptr;
      }
    }
    *error = ERROR_FILE_EXISTS;
    return nullptr;
  }

  const std::wstring& path() const { return path_; }
  FileHandle& file() { return file_; }
  void Keep() { path_.clear(); }

 private:
  TemporaryFile(std::wstring path, HANDLE handle) : path_(std::move(path)), file_(handle) {}

  std::wstring path_;
  FileHandle file_;
};

// The error of the first failing write, else 0.
DWORD WriteAll(HANDLE file, std::string_view content) {
  constexpr std::size_t kMostPerCall = 1u << 30;
  while (!content.empty()) {
    const auto asked = static_cast<DWORD>(std::min(content.size(), kMostPerCall));
    DWORD written = 0;
    if (!::WriteFile(file, content.data(), asked, &written, nullptr)) return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    content.remove_prefix(written);
  }
  return 0;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* why) {
  std::wstring widePath;
  if (!Wide(path, &widePath) || widePath.empty()) {
    return Fail(why, path, SystemReason(ERROR_INVALID_NAME));
  }
  DWORD error = 0;
  std::unique_ptr<TemporaryFile> temporary = TemporaryFile::Create(widePath, &error);
  if (temporary == nullptr) return Fail(why, path, SystemReason(error));
  if (const DWORD writeError = WriteAll(temporary->file().Get(), content); writeError != 0) {
    return Fail(why, path, SystemReason(writeError));
  }
  if (!::FlushFileBuffers(temporary->file().Get()) || !temporary->file().Close()) {
    return Fail(why, path, SystemReason(::GetLastError()));
  }
  if (!::MoveFileExW(temporary->path().c_str(), widePath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail(why, path, SystemReason(::GetLastError()));
  }
  temporary->Keep();
  return true;
}

bool WriteWorkbook(const std::string& path, const Table&, std::string* why) {
  return Fail(why, path, kWorkbookUnavailable);
}

}  // namespace zemlaro
