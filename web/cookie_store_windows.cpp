// The cookie store on Windows: %LOCALAPPDATA%\zemlaro\cookies.txt, in the same
// Netscape cookie-file lines as the Linux build's file, read and written by our own
// code (web/cookie_jar.h) into the process's one jar, which the WinINet session
// reads and fills around each request.
//
// Why not WinINet's own cookie calls (InternetGetCookieEx / InternetSetCookieEx):
// they keep cookies in the user's WinINet cache, shared with every other program
// of the user's and kept apart from our file, so the file would stop being the one
// truth; they cannot list the cookies to write the file back, and they hide
// HttpOnly cookies unless asked with flags that older systems lack. The session
// therefore sends INTERNET_FLAG_NO_COOKIES and carries the Cookie line itself.
//
// CookieStorePath's arguments are, on Windows, the values of LOCALAPPDATA and
// USERPROFILE (the latter with AppData\Local below it), each used only when absolute.
#include <windows.h>

#include <cstdlib>
#include <ctime>

#include "web/cookie_jar.h"
#include "web/cookie_store.h"
#include "web/private_file.h"

namespace zemlaro {

namespace {

constexpr char kFileName[] = "zemlaro\\cookies.txt";
constexpr char kLocalUnderProfile[] = "AppData\\Local";
constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kFileHead[] =
    "# Netscape HTTP Cookie File\n"
    "# Zemlaro's cookies. Keep this file private.\n\n";

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool IsAbsolute(const char* path) {
  if (path == nullptr) return false;
  const std::string_view p(path);
  const bool drive = p.size() >= 3 &&
                     ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) &&
                     p[1] == ':' && (p[2] == '\\' || p[2] == '/');
  const bool unc = p.size() >= 3 && (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/');
  return drive || unc;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// An environment variable as UTF-8; none when unset.
std::optional<std::string> Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring wide(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, wide.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  wide.resize(length);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::nullopt;
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  return utf8;
}

// Comments and blank lines.
bool IsNoCookieLine(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return true;
  return line[first] == '#' && line.substr(first, kHttpOnlyPrefix.size()) != kHttpOnlyPrefix;
}

}  // namespace

std::string CookieStorePath(const char* localAppData, const char* userProfile) {
  if (IsAbsolute(localAppData)) {
    return WithoutTrailingSeparators(localAppData) + "\\" + kFileName;
  }
  if (IsAbsolute(userProfile)) {
    return WithoutTrailingSeparators(userProfile) + "\\" + kLocalUnderProfile + "\\" + kFileName;
  }
  return {};
}

std::string DefaultCookieStorePath() {
  const std::optional<std::string> local = Environment(L"LOCALAPPDATA");
  const std::optional<std::string> profile = Environment(L"USERPROFILE");
  return CookieStorePath(local ? local->c_str() : nullptr, profile ? profile->c_str() : nullptr);
}

StoreLoad LoadCookieStore(const std::string& path, const CookieFileLimits& limits) {
  StoreLoad load;
  const PrivateFileRead file = ReadPrivateFile(path, limits.maxFileBytes);
  switch (file.status) {
    case PrivateFileStatus::Read:
      break;
    case PrivateFileStatus::Missing:
      return load;
    case PrivateFileStatus::NotAFile:
      load.problem = StoreProblem::NotAFile;
      return load;
    case PrivateFileStatus::OpenToOthers:
      load.problem = StoreProblem::OpenToOthers;
      return load;
    case PrivateFileStatus::Unreadable:
      load.problem = StoreProblem::Unreadable;
      return load;
    case PrivateFileStatus::TooLarge:
      load.problem = StoreProblem::TooLarge;
      return load;
  }
  const std::int64_t now = Now();
  bool skipped = false;
  std::string_view rest = file.bytes;
  if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) rest.remove_prefix(3);
  std::vector<StoredCookie> cookies;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (IsNoCookieLine(line)) continue;
    line.remove_prefix(line.find_first_not_of(" \t"));
    if (line.size() > limits.maxLineBytes || line.find('\0') != std::string_view::npos) {
      skipped = true;
      continue;
    }
    std::optional<StoredCookie> cookie = CookieOfFileLine(line);
    if (!cookie) {
      skipped = true;
      continue;
    }
    if (cookie->expires != 0 && cookie->expires < now) continue;
    cookies.push_back(std::move(*cookie));
  }
  WithSharedJar([&](CookieJar& jar) {
    for (StoredCookie& cookie : cookies) {
      if (jar.Put(std::move(cookie), now)) {
        ++load.cookies;
      } else {
        skipped = true;
      }
    }
    return 0;
  });
  if (skipped) load.problem = StoreProblem::Malformed;
  return load;
}

bool SaveCookieStore(const std::string& path, std::string* why) {
  if (path.empty()) {
    if (why)
      *why = "no place for the cookie file: neither LOCALAPPDATA nor USERPROFILE names a folder";
    return false;
  }
  std::string text = kFileHead;
  for (const StoredCookie& cookie : StoredCookies()) {
    if (const std::optional<std::string> line = FileLineOfCookie(cookie)) {
      text += *line;
      text += '\n';
    }
  }
  return ReplacePrivateFile(path, text, why);
}

std::string StoreProblemText(StoreProblem problem, const std::string& path) {
  const std::string file = "The cookie file " + path;
  switch (problem) {
    case StoreProblem::None:
      return {};
    case StoreProblem::NotAFile:
      return file + " is a folder or some other thing than a file, so no cookies were read.";
    case StoreProblem::OpenToOthers:
      return file + " was not read because other users may read it.";
    case StoreProblem::Unreadable:
      return file + " could not be read, so no cookies were read from it.";
    case StoreProblem::Malformed:
      return file + " holds lines that are not cookies; they were skipped and the rest was read.";
    case StoreProblem::TooLarge:
      return file + " is larger than a cookie file can be (" +
             std::to_string(kMaxCookieFileBytes >> 20) + " MiB), so it was not read.";
  }
  return {};
}

std::vector<StoredCookie> StoredCookies() {
  const std::int64_t now = Now();
  return WithSharedJar([&](const CookieJar& jar) { return jar.Cookies(now); });
}

bool PutCookie(const StoredCookie& cookie) {
  const std::int64_t now = Now();
  return WithSharedJar([&](CookieJar& jar) { return jar.Put(cookie, now); });
}

void RemoveCookie(std::string_view domain, std::string_view path, std::string_view name) {
  WithSharedJar([&](CookieJar& jar) {
    jar.RemoveWhere([&](const StoredCookie& stored) {
      return stored.name == name && stored.path == path && SameCookieDomain(stored.domain, domain);
    });
    return 0;
  });
}

void RemoveCookiesNamed(std::string_view name) {
  WithSharedJar([&](CookieJar& jar) {
    jar.RemoveWhere([&](const StoredCookie& stored) { return stored.name == name; });
    return 0;
  });
}

void ClearCookies() {
  WithSharedJar([](CookieJar& jar) {
    jar.Clear();
    return 0;
  });
}

std::optional<std::string> CookieValue(std::string_view name) {
  for (StoredCookie& cookie : StoredCookies()) {
    if (cookie.name == name) return std::move(cookie.value);
  }
  return std::nullopt;
}

}  // namespace zemlaro
