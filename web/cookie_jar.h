// Cookies kept by our own code, as a browser keeps them: a Set-Cookie answer taken
// in, the Cookie line a request carries, and the Netscape cookie-file lines that
// libcurl reads and writes (so a store file moves between the Linux and the Windows
// build as it is). The Windows build's cookie store and WinINet session run on it;
// on Linux libcurl's own engine does this work and only the tests use the jar.
//
// Thread rules: a CookieJar is a plain value without a lock. The process's one jar
// is reached only through WithSharedJar, which holds its lock for the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/cookie_store.h"

namespace zemlaro {

// A Set-Cookie value longer than this is refused (libcurl's limit too).
inline constexpr std::size_t kMaxSetCookieBytes = 8190;
// A cookie whose name and value together pass this is refused.
inline constexpr std::size_t kMaxCookieNameValueBytes = 4096;
// The Cookie line of a request stops before it would pass this.
inline constexpr std::size_t kMaxCookieHeaderBytes = 8190;
// The jar keeps at most this many cookies; the oldest go first.
inline constexpr std::size_t kMaxJarCookies = 3000;

// Where a request goes, as far as cookies care.
struct CookieUrl {
  bool secure = false;  // https
  std::string host;     // lower case, without the port
  std::string path;     // from the first "/", without query or fragment; "/" at least
};

// "http://host[:port]/path?query" or "https://…"; none for another scheme or no host.
std::optional<CookieUrl> CookieUrlOf(std::string_view url);

// The cookie a Set-Cookie value sets, as sent in an answer from `from` at `now`
// (seconds since the epoch); none when a browser would refuse it. A cookie whose
// expiry has passed comes back with that expiry: putting it removes its namesake.
std::optional<StoredCookie> ParseSetCookie(std::string_view value, const CookieUrl& from,
                                           std::int64_t now);

// An HTTP date of a cookie ("Sun, 06 Nov 1994 08:49:37 GMT" and the looser forms
// browsers accept), as seconds since the epoch; none when it is not a date.
std::optional<std::int64_t> ParseCookieDate(std::string_view date);

// One line of a cookie file (with or without the #HttpOnly_ prefix); none when it
// is not a cookie.
std::optional<StoredCookie> CookieOfFileLine(std::string_view line);
// The cookie as a line of a cookie file; none when a field would break the line.
std::optional<std::string> FileLineOfCookie(const StoredCookie& cookie);

class CookieJar {
 public:
  // Adds the cookie or replaces the one of the same domain, path and name; a cookie
  // already expired at `now` only removes that one. False when a field is empty
  // where it must not be or would break a file line.
  bool Put(StoredCookie cookie, std::int64_t now);
  // Takes a Set-Cookie value of an answer from `from`; false when it was refused.
  bool TakeSetCookie(std::string_view value, const CookieUrl& from, std::int64_t now);
  // "a=1; b=2" for a request to `to`, longer paths first, then older cookies first;
  // empty when no cookie goes there.
  std::string CookieHeader(const CookieUrl& to, std::int64_t now) const;
  // The cookies not expired at `now`, oldest first.
  std::vector<StoredCookie> Cookies(std::int64_t now) const;
  template <class Goes>
  void RemoveWhere(Goes goes) {
    std::erase_if(entries_, [&](const Entry& entry) { return goes(entry.cookie); });
  }
  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    StoredCookie cookie;
    std::uint64_t created = 0;
  };
  std::vector<Entry> entries_;
  std::uint64_t nextCreated_ = 0;
};

// The domain is compared in any letter case, with or without a leading dot.
bool SameCookieDomain(std::string_view a, std::string_view b);

std::mutex& SharedJarMutex();
CookieJar& SharedJarUnlocked();

// Runs `use` on the process's one jar under its lock.
template <class Use>
auto WithSharedJar(Use use) {
  std::lock_guard lock(SharedJarMutex());
  return use(SharedJarUnlocked());
}

}  // namespace zemlaro
