#include "web/cookie_store.h"

#include <charconv>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "web/cookie_jar.h"
#include "web/curl_handles.h"
#include "web/curl_session.h"
#include "web/curl_share.h"
#include "web/private_file.h"

namespace zemlaro {

namespace {

constexpr char kFileName[] = "zemlaro/cookies.txt";
constexpr char kDataFolderUnderHome[] = ".local/share";
// How libcurl marks an HttpOnly cookie in a cookie-file line.
constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kFileHead[] =
    "# Netscape HTTP Cookie File\n"
    "# Zemlaro's cookies, written from libcurl's cookie store. Keep this file private.\n\n";
// An expiry in the past, for a cookie that is to go.
constexpr std::int64_t kLongAgo = 1;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// libcurl's rule: a cookie with an expiry is gone once that time has passed.
bool Expired(const StoredCookie& cookie, std::int64_t now) {
  return cookie.expires != 0 && cookie.expires < now;
}

EasyHandle NewEasy() {
  PrepareCurl();
  return EasyHandle(curl_easy_init());
}

// An easy handle on the process-wide store; null when libcurl has no memory left.
EasyHandle StoreHandle() {
  CURLSH* share = CookieShare();
  EasyHandle easy = NewEasy();
  if (easy && (!share || curl_easy_setopt(easy.get(), CURLOPT_SHARE, share) != CURLE_OK)) {
    easy.reset();
  }
  return easy;
}

// The cookies of the handle's store as libcurl writes them in a cookie file; none
// when libcurl cannot list them.
std::optional<std::vector<std::string>> CookieLines(CURL* easy) {
  curl_slist* raw = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &raw) != CURLE_OK) return std::nullopt;
  const StringList list(raw);
  std::vector<std::string> lines;
  for (const curl_slist* item = list.get(); item; item = item->next) lines.emplace_back(item->data);
  return lines;
}

// Splits one of libcurl's cookie lines into its seven tab-separated fields.
std::optional<StoredCookie> CookieOfLine(std::string_view line) {
  StoredCookie cookie;
  if (line.substr(0, kHttpOnlyPrefix.size()) == kHttpOnlyPrefix) {
    cookie.httpOnly = true;
    line.remove_prefix(kHttpOnlyPrefix.size());
  }
  std::string_view fields[6];
  for (std::string_view& field : fields) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    field = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  std::string_view domain = fields[0];
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  cookie.domain = domain;
  cookie.hostOnly = fields[1] != "TRUE";
  cookie.path = fields[2];
  cookie.secure = fields[3] == "TRUE";
  const std::string_view expires = fields[4];
  if (std::from_chars(expires.data(), expires.data() + expires.size(), cookie.expires).ec !=
      std::errc()) {
    return std::nullopt;
  }
  cookie.name = fields[5];
  cookie.value = line;
  return cookie;
}

// What libcurl's engine makes of one cookie-file line, on a handle with a store of
// its own that is left empty again; none when the engine refuses the line.
std::optional<StoredCookie> ParsedByLibcurl(CURL* scratch, const std::string& line) {
  curl_easy_setopt(scratch, CURLOPT_COOKIELIST, line.c_str());
  const std::optional<std::vector<std::string>> lines = CookieLines(scratch);
  curl_easy_setopt(scratch, CURLOPT_COOKIELIST, "ALL");
  if (!lines || lines->size() != 1) return std::nullopt;
  return CookieOfLine(lines->front());
}

// Comments and blank lines, which libcurl's own file reader passes over too.
bool IsNoCookieLine(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return true;
  return line[first] == '#' && line.substr(first, kHttpOnlyPrefix.size()) != kHttpOnlyPrefix;
}

bool SameDomain(std::string_view a, std::string_view b) {
  if (!a.empty() && a.front() == '.') a.remove_prefix(1);
  if (!b.empty() && b.front() == '.') b.remove_prefix(1);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The store has no call that removes one cookie: each cookie to go is replaced by a
// copy that expired long ago, which libcurl drops before its next transfer or change
// and which no listing of this file shows.
void RemoveWhere(const std::function<bool(const StoredCookie&)>& goes) {
  const EasyHandle store = StoreHandle();
  if (!store) return;
  for (StoredCookie cookie : StoredCookies()) {
    if (!goes(cookie)) continue;
    cookie.expires = kLongAgo;
    if (const std::optional<std::string> line = FileLineOfCookie(cookie)) {
      curl_easy_setopt(store.get(), CURLOPT_COOKIELIST, line->c_str());
    }
  }
}

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string CookieStorePath(const char* xdgDataHome, const char* home) {
  if (IsAbsolute(xdgDataHome)) return WithoutTrailingSlashes(xdgDataHome) + "/" + kFileName;
  if (IsAbsolute(home)) {
    return WithoutTrailingSlashes(home) + "/" + kDataFolderUnderHome + "/" + kFileName;
  }
  return {};
}

std::string DefaultCookieStorePath() {
  return CookieStorePath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
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
  const EasyHandle store = StoreHandle();
  const EasyHandle scratch = NewEasy();
  if (!store || !scratch) {
    load.problem = StoreProblem::Unreadable;
    return load;
  }
  // Each line goes through a store of its own first: libcurl's engine says whether
  // it is a cookie and what its expiry is, which adding it to the shared store
  // would not tell.
  const std::int64_t now = Now();
  bool skipped = false;
  std::string_view rest = file.bytes;
  if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) rest.remove_prefix(3);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (IsNoCookieLine(line)) continue;
    // Leading blanks go, as libcurl's own file reader drops them.
    line.remove_prefix(line.find_first_not_of(" \t"));
    if (line.size() > limits.maxLineBytes || line.find('\0') != std::string_view::npos) {
      skipped = true;
      continue;
    }
    const std::string text(line);
    const std::optional<StoredCookie> cookie = ParsedByLibcurl(scratch.get(), text);
    if (!cookie) {
      skipped = true;
      continue;
    }
    if (Expired(*cookie, now)) continue;
    curl_easy_setopt(store.get(), CURLOPT_COOKIELIST, text.c_str());
    ++load.cookies;
  }
  if (skipped) load.problem = StoreProblem::Malformed;
  return load;
}

bool SaveCookieStore(const std::string& path, std::string* why) {
  if (path.empty()) {
    if (why) *why = "no place for the cookie file: neither XDG_DATA_HOME nor HOME names a folder";
    return false;
  }
  const EasyHandle store = StoreHandle();
  const std::optional<std::vector<std::string>> lines =
      store ? CookieLines(store.get()) : std::nullopt;
  if (!lines) {
    if (why) *why = "libcurl could not list its cookie store";
    return false;
  }
  const std::int64_t now = Now();
  std::string text = kFileHead;
  for (const std::string& line : *lines) {
    const std::optional<StoredCookie> cookie = CookieOfLine(line);
    if (!cookie || Expired(*cookie, now) || line.find_first_of("\r\n") != std::string::npos) {
      continue;
    }
    text += line;
    text += '\n';
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
      return file +
             " was not read because other users may read it; make it private "
             "(chmod 600) to have its cookies used.";
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
  std::vector<StoredCookie> cookies;
  const EasyHandle store = StoreHandle();
  if (!store) return cookies;
  const std::int64_t now = Now();
  for (const std::string& line : CookieLines(store.get()).value_or(std::vector<std::string>())) {
    std::optional<StoredCookie> cookie = CookieOfLine(line);
    if (cookie && !Expired(*cookie, now)) cookies.push_back(std::move(*cookie));
  }
  return cookies;
}

bool PutCookie(const StoredCookie& cookie) {
  const std::optional<std::string> line = FileLineOfCookie(cookie);
  const EasyHandle scratch = NewEasy();
  if (!line || !scratch) return false;
  const std::optional<StoredCookie> parsed = ParsedByLibcurl(scratch.get(), *line);
  if (!parsed || parsed->name != cookie.name || parsed->path != cookie.path ||
      !SameDomain(parsed->domain, cookie.domain)) {
    return false;
  }
  const EasyHandle store = StoreHandle();
  if (!store) return false;
  // libcurl replaces a cookie of the same domain, path, name and reach (host only or
  // not); one of the other reach goes afterwards, so the name is never missing.
  curl_easy_setopt(store.get(), CURLOPT_COOKIELIST, line->c_str());
  RemoveWhere([&](const StoredCookie& stored) {
    return stored.hostOnly != cookie.hostOnly && stored.name == cookie.name &&
           stored.path == cookie.path && SameDomain(stored.domain, cookie.domain);
  });
  return true;
}

void RemoveCookie(std::string_view domain, std::string_view path, std::string_view name) {
  RemoveWhere([&](const StoredCookie& stored) {
    return stored.name == name && stored.path == path && SameDomain(stored.domain, domain);
  });
}

void RemoveCookiesNamed(std::string_view name) {
  RemoveWhere([&](const StoredCookie& stored) { return stored.name == name; });
}

void ClearCookies() {
  if (const EasyHandle store = StoreHandle()) {
    curl_easy_setopt(store.get(), CURLOPT_COOKIELIST, "ALL");
  }
}

std::optional<std::string> CookieValue(std::string_view name) {
  for (StoredCookie& cookie : StoredCookies()) {
    if (cookie.name == name) return std::move(cookie.value);
  }
  return std::nullopt;
}

}  // namespace zemlaro
