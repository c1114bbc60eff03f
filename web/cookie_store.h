// The program's persistent cookie store: one Netscape-format cookie file per user,
// loaded into the process-wide libcurl cookie store (the one every CurlSession with
// cookies shares) and written back from it. libcurl's own cookie engine reads and
// writes the format.
//
// Thread rules: every call may come from any thread, at the same time as transfers;
// each takes libcurl's lock on the shared store only while it reads or changes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zemlaro {

struct StoredCookie {
  std::string domain;    // without a leading dot
  bool hostOnly = true;  // false: sent to subdomains of `domain` too
  std::string path = "/";
  bool secure = false;
  bool httpOnly = false;
  std::int64_t expires = 0;  // seconds since the epoch; 0 for a session cookie
  std::string name;
  std::string value;
};

// A cookie file past this size is not read.
inline constexpr std::size_t kMaxCookieFileBytes = 4u << 20;
// A longer line is skipped, as libcurl's own cookie-file reader does.
inline constexpr std::size_t kMaxCookieLineBytes = 5000;

struct CookieFileLimits {
  std::size_t maxFileBytes = kMaxCookieFileBytes;
  std::size_t maxLineBytes = kMaxCookieLineBytes;
};

// $XDG_DATA_HOME/zemlaro/cookies.txt, or $HOME/.local/share/zemlaro/cookies.txt when
// XDG_DATA_HOME is unset or empty; empty when neither gives a folder. Null arguments
// count as unset, and so does a relative path (the XDG base directory rules).
std::string CookieStorePath(const char* xdgDataHome, const char* home);
// The same from the process environment (XDG_DATA_HOME and HOME only).
std::string DefaultCookieStorePath();

enum class StoreProblem {
  None,
  NotAFile,      // the path is a folder or another kind of file
  OpenToOthers,  // group or others may read it: it is not read
  Unreadable,    // it exists but cannot be read
  Malformed,     // some or all of its lines are not cookies (those were skipped)
  TooLarge,      // past the size a cookie file can have: not read
};

struct StoreLoad {
  StoreProblem problem = StoreProblem::None;
  int cookies = 0;  // cookies taken into the store
};

// Adds the file's cookies to the store. A missing file is an empty store and no
// problem. Expired cookies are dropped; session cookies are kept. On any problem the
// store keeps what could be read.
StoreLoad LoadCookieStore(const std::string& path, const CookieFileLimits& limits = {});

// Writes every cookie of the store, session cookies included and expired ones left
// out, in libcurl's own cookie-file lines, by a temporary file in
// the same folder, flushed and renamed over the old one. Creates the folder (0700) and
// the file (0600). False on failure, with a reason in `why` (no cookie value in it).
bool SaveCookieStore(const std::string& path, std::string* why = nullptr);

// One sentence on a problem, in English, naming the file but no cookie.
std::string StoreProblemText(StoreProblem problem, const std::string& path);

// The cookies of the store, expired ones left out.
std::vector<StoredCookie> StoredCookies();
// Adds the cookie or replaces the one of the same domain, path and name. False, and
// the store unchanged, when libcurl's engine refuses it or a field holds a tab or a
// line break.
bool PutCookie(const StoredCookie& cookie);
// The domain is matched in any letter case, with or without a leading dot.
void RemoveCookie(std::string_view domain, std::string_view path, std::string_view name);
void RemoveCookiesNamed(std::string_view name);
// Empties the store (not the file).
void ClearCookies();
// The value of the first stored cookie of that name, whatever its domain.
std::optional<std::string> CookieValue(std::string_view name);

}  // namespace zemlaro
