#include "web/cookie_jar.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace zemlaro {

namespace {

// How libcurl marks an HttpOnly cookie in a cookie-file line.
constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
// An expiry in the past, for a cookie that is to go (Max-Age=0 and the like).
constexpr std::int64_t kLongAgo = 1;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string LowerText(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = Lower(c);
  return lower;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool Expired(const StoredCookie& cookie, std::int64_t now) {
  return cookie.expires != 0 && cookie.expires < now;
}

bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
}

bool FitsALine(std::string_view field) {
  return field.find_first_of(std::string_view("\t\r\n\0", 4)) == std::string_view::npos;
}

bool IsIpAddress(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;  // IPv6
  return !host.empty() && std::all_of(host.begin(), host.end(),
                                      [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// Whether a request to `host` may carry (or set) a cookie of `domain`.
bool DomainMatches(std::string_view host, std::string_view domain) {
  if (EqualsNoCase(host, domain)) return true;
  if (IsIpAddress(host) || host.size() <= domain.size()) return false;
  return host[host.size() - domain.size() - 1] == '.' &&
         EqualsNoCase(host.substr(host.size() - domain.size()), domain);
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (requestPath == cookiePath) return true;
  if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

// The path a cookie gets when its answer names none: the request's folder.
std::string DefaultPath(std::string_view requestPath) {
  if (requestPath.empty() || requestPath.front() != '/') return "/";
  const std::size_t last = requestPath.rfind('/');
  if (last == 0) return "/";
  return std::string(requestPath.substr(0, last));
}

// ---- cookie dates ----

bool IsDateDelimiter(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b == 0x09 || (b >= 0x20 && b <= 0x2F) || (b >= 0x3B && b <= 0x40) ||
         (b >= 0x5B && b <= 0x60) || (b >= 0x7B && b <= 0x7E);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to `most` digits at `at` (at least `least`); moves `at` past them.
std::optional<int> Digits(std::string_view token, std::size_t& at, std::size_t least,
                          std::size_t most) {
  std::size_t end = at;
  while (end < token.size() && IsDigit(token[end]) && end - at < most) ++end;
  if (end - at < least) return std::nullopt;
  int value = 0;
  std::from_chars(token.data() + at, token.data() + end, value);
  at = end;
  return value;
}

// Digits at the token's start, and no further digit right after them.
std::optional<int> LeadingNumber(std::string_view token, std::size_t least, std::size_t most) {
  std::size_t at = 0;
  const std::optional<int> value = Digits(token, at, least, most);
  if (!value || (at < token.size() && IsDigit(token[at]))) return std::nullopt;
  return value;
}

bool ReadTime(std::string_view token, int& hour, int& minute, int& second) {
  std::size_t at = 0;
  const std::optional<int> h = Digits(token, at, 1, 2);
  if (!h || at >= token.size() || token[at++] != ':') return false;
  const std::optional<int> m = Digits(token, at, 1, 2);
  if (!m || at >= token.size() || token[at++] != ':') return false;
  const std::optional<int> s = Digits(token, at, 1, 2);
  if (!s || (at < token.size() && IsDigit(token[at]))) return false;
  hour = *h;
  minute = *m;
  second = *s;
  return true;
}

int MonthOf(std::string_view token) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  if (token.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    if (EqualsNoCase(token.substr(0, 3), kMonths[i])) return i + 1;
  }
  return 0;
}

// Days from 1970-01-01 to the civil date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// ---- Set-Cookie attributes ----

struct Attributes {
  std::optional<std::int64_t> maxAge;
  std::optional<std::int64_t> expires;
  std::optional<std::string> domain;
  std::optional<std::string> path;
  bool secure = false;
  bool httpOnly = false;
};

void ReadAttribute(std::string_view part, Attributes& attributes) {
  const std::size_t equals = part.find('=');
  const std::string_view name = Trimmed(part.substr(0, equals));
  const std::string_view value =
      equals == std::string_view::npos ? std::string_view() : Trimmed(part.substr(equals + 1));
  if (EqualsNoCase(name, "expires")) {
    if (const std::optional<std::int64_t> when = ParseCookieDate(value)) attributes.expires = when;
  } else if (EqualsNoCase(name, "max-age")) {
    std::int64_t seconds = 0;
    const bool digits = !value.empty() && (IsDigit(value[0]) || value[0] == '-');
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (digits && error == std::errc() && end == value.data() + value.size()) {
      attributes.maxAge = seconds;
    } else if (digits && error == std::errc::result_out_of_range) {
      attributes.maxAge = value[0] == '-' ? 0 : std::numeric_limits<std::int64_t>::max();
    }
  } else if (EqualsNoCase(name, "domain")) {
    std::string_view domain = value;
    if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
    if (!domain.empty()) attributes.domain = LowerText(domain);
  } else if (EqualsNoCase(name, "path")) {
    attributes.path =
        value.empty() || value.front() != '/' ? std::optional<std::string>() : std::string(value);
  } else if (EqualsNoCase(name, "secure")) {
    attributes.secure = true;
  } else if (EqualsNoCase(name, "httponly")) {
    attributes.httpOnly = true;
  }
}

std::int64_t ExpiryOf(const Attributes& attributes, std::int64_t now) {
  if (attributes.maxAge) {
    if (*attributes.maxAge <= 0) return kLongAgo;
    if (*attributes.maxAge > std::numeric_limits<std::int64_t>::max() - now) {
      return std::numeric_limits<std::int64_t>::max();
    }
    return now + *attributes.maxAge;
  }
  if (attributes.expires) return *attributes.expires <= 0 ? kLongAgo : *attributes.expires;
  return 0;
}

}  // namespace

std::optional<CookieUrl> CookieUrlOf(std::string_view url) {
  CookieUrl target;
  const std::size_t marker = url.find("://");
  if (marker == std::string_view::npos) return std::nullopt;
  const std::string scheme = LowerText(url.substr(0, marker));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  target.secure = scheme == "https";
  std::string_view rest = url.substr(marker + 3);
  const std::size_t hostEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, hostEnd);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  if (!host.empty() && host.front() == '[') {
    host = host.substr(0, host.find(']') + 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  if (host.empty()) return std::nullopt;
  target.host = LowerText(host);
  std::string_view path =
      hostEnd == std::string_view::npos ? std::string_view() : rest.substr(hostEnd);
  path = path.substr(0, path.find_first_of("?#"));
  target.path = path.empty() ? "/" : std::string(path);
  return target;
}

std::optional<std::int64_t> ParseCookieDate(std::string_view date) {
  bool haveTime = false;
  bool haveDay = false;
  bool haveMonth = false;
  bool haveYear = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  std::size_t at = 0;
  while (at < date.size()) {
    while (at < date.size() && IsDateDelimiter(date[at])) ++at;
    const std::size_t start = at;
    while (at < date.size() && !IsDateDelimiter(date[at])) ++at;
    const std::string_view token = date.substr(start, at - start);
    if (token.empty()) continue;
    if (!haveTime && ReadTime(token, hour, minute, second)) {
      haveTime = true;
    } else if (const std::optional<int> d = LeadingNumber(token, 1, 2); !haveDay && d) {
      haveDay = true;
      day = *d;
    } else if (const int m = MonthOf(token); !haveMonth && m != 0) {
      haveMonth = true;
      month = m;
    } else if (const std::optional<int> y = LeadingNumber(token, 2, 4); !haveYear && y) {
      haveYear = true;
      year = *y;
    }
  }
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  if (!haveTime || !haveDay || !haveMonth || !haveYear || day < 1 || day > 31 || year < 1601 ||
      hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<StoredCookie> ParseSetCookie(std::string_view value, const CookieUrl& from,
                                           std::int64_t now) {
  if (value.size() > kMaxSetCookieBytes || HasControlByte(value)) return std::nullopt;
  const std::size_t semicolon = value.find(';');
  const std::string_view pair = value.substr(0, semicolon);
  const std::size_t equals = pair.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  StoredCookie cookie;
  cookie.name = Trimmed(pair.substr(0, equals));
  cookie.value = Trimmed(pair.substr(equals + 1));
  if (cookie.name.empty() || cookie.name.size() + cookie.value.size() > kMaxCookieNameValueBytes ||
      !FitsALine(cookie.name) || !FitsALine(cookie.value)) {
    return std::nullopt;
  }

  Attributes attributes;
  std::string_view rest =
      semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
  while (!rest.empty()) {
    const std::size_t next = rest.find(';');
    ReadAttribute(rest.substr(0, next), attributes);
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
  }

  if (attributes.domain) {
    // A domain of one label (a top-level domain) is for that host alone.
    if (!DomainMatches(from.host, *attributes.domain)) return std::nullopt;
    if (attributes.domain->find('.') == std::string::npos && *attributes.domain != from.host) {
      return std::nullopt;
    }
    cookie.domain = *attributes.domain;
    cookie.hostOnly = false;
  } else {
    cookie.domain = from.host;
    cookie.hostOnly = true;
  }
  // A cookie of a secure answer cannot be set by a plain one.
  if (attributes.secure && !from.secure) return std::nullopt;
  cookie.path = attributes.path ? *attributes.path : DefaultPath(from.path);
  cookie.secure = attributes.secure;
  cookie.httpOnly = attributes.httpOnly;
  cookie.expires = ExpiryOf(attributes, now);
  if (!FitsALine(cookie.path)) return std::nullopt;
  return cookie;
}

std::optional<StoredCookie> CookieOfFileLine(std::string_view line) {
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
  const std::string_view expires = fields[4];
  const auto [end, error] =
      std::from_chars(expires.data(), expires.data() + expires.size(), cookie.expires);
  if (domain.empty() || fields[2].empty() || fields[2].front() != '/' || fields[5].empty() ||
      error != std::errc() || end != expires.data() + expires.size() || cookie.expires < 0 ||
      HasControlByte(line) || !FitsALine(line)) {
    return std::nullopt;
  }
  cookie.domain = LowerText(domain);
  cookie.hostOnly = fields[1] != "TRUE";
  cookie.path = fields[2];
  cookie.secure = fields[3] == "TRUE";
  cookie.name = fields[5];
  cookie.value = line;
  return cookie;
}

std::optional<std::string> FileLineOfCookie(const StoredCookie& cookie) {
  std::string_view domain = cookie.domain;
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  if (domain.empty() || cookie.name.empty() || cookie.path.empty()) return std::nullopt;
  for (std::string_view field : {domain, std::string_view(cookie.path),
                                 std::string_view(cookie.name), std::string_view(cookie.value)}) {
    if (!FitsALine(field)) return std::nullopt;
  }
  std::string line = cookie.httpOnly ? std::string(kHttpOnlyPrefix) : std::string();
  if (!cookie.hostOnly) line += '.';
  line.append(domain);
  line += cookie.hostOnly ? "\tFALSE\t" : "\tTRUE\t";
  line += cookie.path;
  line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
  line += std::to_string(cookie.expires);
  line += '\t';
  line += cookie.name;
  line += '\t';
  line += cookie.value;
  return line;
}

bool SameCookieDomain(std::string_view a, std::string_view b) {
  if (!a.empty() && a.front() == '.') a.remove_prefix(1);
  if (!b.empty() && b.front() == '.') b.remove_prefix(1);
  return EqualsNoCase(a, b);
}

bool CookieJar::Put(StoredCookie cookie, std::int64_t now) {
  if (!cookie.domain.empty() && cookie.domain.front() == '.') cookie.domain.erase(0, 1);
  cookie.domain = LowerText(cookie.domain);
  if (!FileLineOfCookie(cookie) || cookie.path.front() != '/') return false;
  const auto same = [&](const Entry& entry) {
    return entry.cookie.name == cookie.name && entry.cookie.path == cookie.path &&
           SameCookieDomain(entry.cookie.domain, cookie.domain);
  };
  const auto found = std::find_if(entries_.begin(), entries_.end(), same);
  if (Expired(cookie, now)) {
    if (found != entries_.end()) entries_.erase(found);
    return true;
  }
  if (found != entries_.end()) {
    // A replaced cookie keeps its place among the others, as a browser keeps its
    // creation time.
    found->cookie = std::move(cookie);
    return true;
  }
  std::erase_if(entries_, [&](const Entry& entry) { return Expired(entry.cookie, now); });
  if (entries_.size() >= kMaxJarCookies) entries_.erase(entries_.begin());
  entries_.push_back({std::move(cookie), nextCreated_++});
  return true;
}

bool CookieJar::TakeSetCookie(std::string_view value, const CookieUrl& from, std::int64_t now) {
  std::optional<StoredCookie> cookie = ParseSetCookie(value, from, now);
  return cookie && Put(std::move(*cookie), now);
}

std::string CookieJar::CookieHeader(const CookieUrl& to, std::int64_t now) const {
  std::vector<const Entry*> going;
  for (const Entry& entry : entries_) {
    const StoredCookie& cookie = entry.cookie;
    if (Expired(cookie, now) || (cookie.secure && !to.secure)) continue;
    const bool domainOk = cookie.hostOnly ? EqualsNoCase(to.host, cookie.domain)
                                          : DomainMatches(to.host, cookie.domain);
    if (domainOk && PathMatches(to.path, cookie.path)) going.push_back(&entry);
  }
  std::stable_sort(going.begin(), going.end(), [](const Entry* a, const Entry* b) {
    if (a->cookie.path.size() != b->cookie.path.size()) {
      return a->cookie.path.size() > b->cookie.path.size();
    }
    return a->created < b->created;
  });
  std::string header;
  for (const Entry* entry : going) {
    const std::size_t more =
        (header.empty() ? 0 : 2) + entry->cookie.name.size() + 1 + entry->cookie.value.size();
    if (header.size() + more > kMaxCookieHeaderBytes) break;
    if (!header.empty()) header += "; ";
    header += entry->cookie.name;
    header += '=';
    header += entry->cookie.value;
  }
  return header;
}

std::vector<StoredCookie> CookieJar::Cookies(std::int64_t now) const {
  std::vector<StoredCookie> cookies;
  for (const Entry& entry : entries_) {
    if (!Expired(entry.cookie, now)) cookies.push_back(entry.cookie);
  }
  return cookies;
}

// Never destroyed: a worker thread still leaving as the program exits finds them.
std::mutex& SharedJarMutex() {
  static std::mutex& mutex = *new std::mutex;
  return mutex;
}

CookieJar& SharedJarUnlocked() {
  static CookieJar& jar = *new CookieJar;
  return jar;
}

}  // namespace zemlaro
