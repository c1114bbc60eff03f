// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <fcntl.h>
#include <io.h>

#include <memory>

#include "tools/cli/cli_platform.h"

namespace zemlaro::cli {

namespace {

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

std::string Utf8Of(const wchar_t* wide) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.pop_back();
  return utf8;
}

}  // namespace

// The C runtime's argv is in the ANSI code page, which cannot hold every keyword:
// the UTF-16 command line is read instead.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<wchar_t*, LocalFreer> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide || count < 1) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8Of(wide.get()[i]));
  return args;
}

void PrepareStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::string MakePrivateTemporaryFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return {};
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring folder = std::wstring(base) + L"zemlaro-cli-" +
                                std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(attempt);
    // The folder inherits the access list of the user's own temporary folder.
    if (CreateDirectoryW(folder.c_str(), nullptr)) return Utf8Of(folder.c_str());
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

void RemoveFolder(const std::string& folder) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, folder.c_str(), -1, nullptr, 0);
  if (size <= 0) return;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, folder.c_str(), -1, wide.data(), size);
  RemoveDirectoryW(wide.c_str());
}

}  // namespace zemlaro::cli
