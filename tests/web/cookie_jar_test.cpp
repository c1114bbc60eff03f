// The portable cookie jar: Set-Cookie answers taken in, the Cookie line of a request,
// cookie dates and the cookie-file lines shared with libcurl's files.
#include "web/cookie_jar.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zemlaro {
namespace {

// 2026-01-01 00:00:00 UTC.
constexpr std::int64_t kNow = 1767225600;

CookieUrl Url(const std::string& url) {
  const std::optional<CookieUrl> parsed = CookieUrlOf(url);
  EXPECT_TRUE(parsed) << url;
  return parsed.value_or(CookieUrl{});
}

TEST(CookieUrl, SchemeHostAndPathAreTakenApart) {
  struct Case {
    const char* url;
    bool ok;
    bool secure;
    const char* host;
    const char* path;
  };
  const Case cases[] = {
      {"https://S.Example.COM:8443/a/b?x=1#f", true, true, "s.example.com", "/a/b"},
      {"http://example.com", true, false, "example.com", "/"},
      {"http://example.com?q=1", true, false, "example.com", "/"},
      {"http://user:pw@example.com/p", true, false, "example.com", "/p"},
      {"ftp://example.com/", false, false, "", ""},
      {"example.com/path", false, false, "", ""},
      {"https:///nohost", false, false, "", ""},
  };
  for (const Case& c : cases) {
    const std::optional<CookieUrl> url = CookieUrlOf(c.url);
    ASSERT_EQ(url.has_value(), c.ok) << c.url;
    if (!url) continue;
    EXPECT_EQ(url->secure, c.secure) << c.url;
    EXPECT_EQ(url->host, c.host) << c.url;
    EXPECT_EQ(url->path, c.path) << c.url;
  }
}

TEST(CookieDate, TheFormsBrowsersAcceptAndNoOther) {
  struct Case {
    const char* date;
    std::optional<std::int64_t> seconds;
  };
  const Case cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},  // two-digit year, dashes
      {"Sun Nov  6 08:49:37 1994", 784111777},        // asctime order
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Fri, 01 Jan 2026 00:00:00 GMT", kNow},
      {"Wed, 29 Feb 2028 23:59:59 GMT", 1835481599},  // a leap day
      {"Sat, 01 Jan 2000 00:00:00 GMT", 946684800},   // "00" is not 1900
      {"01 Jan 69 00:00:00", 3124224000},             // 69 is 2069
      {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
      {"Sun, 32 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nox 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1600 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 GMT", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCookieDate(c.date), c.seconds) << c.date;
}

TEST(SetCookie, AttributesGiveTheCookieItsReachAndLife) {
  struct Case {
    const char* from;
    const char* header;
    bool taken;
    const char* name = "";
    const char* value = "";
    const char* domain = "";
    bool hostOnly = false;
    const char* path = "";
    bool secure = false;
    bool httpOnly = false;
    std::int64_t expires = 0;
  };
  const Case cases[] = {
      {"https://a.example.com/x/y", "sid=1", true, "sid", "1", "a.example.com", true, "/x", false,
       false, 0},
      {"https://a.example.com/", " sid = v w ; Path=/p; Secure; HttpOnly", true, "sid", "v w",
       "a.example.com", true, "/p", true, true, 0},
      {"https://a.example.com/x", "t=1; Domain=.Example.com; Path=relative", true, "t", "1",
       "example.com", false, "/", false, false, 0},
      {"https://a.example.com/", "t=1; Max-Age=60; Expires=Thu, 01 Jan 2099 00:00:00 GMT", true,
       "t", "1", "a.example.com", true, "/", false, false, kNow + 60},
      {"https://a.example.com/", "t=1; Expires=Fri, 02 Jan 2026 00:00:00 GMT", true, "t", "1",
       "a.example.com", true, "/", false, false, kNow + 86400},
      {"https://a.example.com/", "t=1; Max-Age=0", true, "t", "1", "a.example.com", true, "/",
       false, false, 1},
      {"https://a.example.com/", "t=1; Max-Age=soon", true, "t", "1", "a.example.com", true, "/",
       false, false, 0},
      {"https://a.example.com/", "t=", true, "t", "", "a.example.com", true, "/", false, false, 0},
      // Refused: another site's domain, a top-level domain, a secure cookie over plain
      // HTTP, no name, no '=', a line break.
      {"https://a.example.com/", "t=1; Domain=other.com", false},
      {"https://a.example.com/", "t=1; Domain=com", false},
      {"https://example.com/", "t=1; Domain=ample.com", false},
      {"http://a.example.com/", "t=1; Secure", false},
      {"https://a.example.com/", "=1", false},
      {"https://a.example.com/", "flag", false},
      {"https://a.example.com/", "t=1\r\nX: y", false},
      {"https://127.0.0.1:8443/", "t=1; Domain=0.0.1", false},
  };
  for (const Case& c : cases) {
    const std::optional<StoredCookie> cookie = ParseSetCookie(c.header, Url(c.from), kNow);
    ASSERT_EQ(cookie.has_value(), c.taken) << c.header;
    if (!cookie) continue;
    EXPECT_EQ(cookie->name, c.name) << c.header;
    EXPECT_EQ(cookie->value, c.value) << c.header;
    EXPECT_EQ(cookie->domain, c.domain) << c.header;
    EXPECT_EQ(cookie->hostOnly, c.hostOnly) << c.header;
    EXPECT_EQ(cookie->path, c.path) << c.header;
    EXPECT_EQ(cookie->secure, c.secure) << c.header;
    EXPECT_EQ(cookie->httpOnly, c.httpOnly) << c.header;
    EXPECT_EQ(cookie->expires, c.expires) << c.header;
  }
}

TEST(SetCookie, OversizedCookiesAreRefused) {
  const CookieUrl from = Url("https://a.example.com/");
  const std::string big(kMaxCookieNameValueBytes, 'v');
  EXPECT_FALSE(ParseSetCookie("n=" + big, from, kNow));
  EXPECT_TRUE(ParseSetCookie("n=" + big.substr(1), from, kNow));
  EXPECT_FALSE(ParseSetCookie("n=1; x=" + std::string(kMaxSetCookieBytes, 'a'), from, kNow));
}

// The jar a few requests fill, asked for the Cookie line of each address.
TEST(CookieJar, EachRequestCarriesTheCookiesOfItsAddress) {
  CookieJar jar;
  const struct {
    const char* from;
    const char* header;
  } answers[] = {
      {"https://shop.example.com/", "host=1"},
      {"https://shop.example.com/", "wide=2; Domain=example.com"},
      {"https://shop.example.com/", "deep=3; Path=/account"},
      {"https://shop.example.com/", "safe=4; Secure"},
      {"https://shop.example.com/", "old=5; Expires=Wed, 31 Dec 2025 23:59:59 GMT"},
      {"http://other.org/", "o=6"},
  };
  for (const auto& answer : answers) jar.TakeSetCookie(answer.header, Url(answer.from), kNow);

  const struct {
    const char* to;
    const char* header;
  } requests[] = {
      {"https://shop.example.com/", "host=1; wide=2; safe=4"},
      {"https://shop.example.com/account/orders", "deep=3; host=1; wide=2; safe=4"},
      {"https://shop.example.com/accounts", "host=1; wide=2; safe=4"},
      {"http://shop.example.com/", "host=1; wide=2"},
      {"https://www.example.com/", "wide=2"},  // safe=4 is for its host alone
      {"https://example.com/", "wide=2"},
      {"https://sub.shop.example.com/", "wide=2"},
      {"https://notexample.com/", ""},
      {"http://other.org/x", "o=6"},
  };
  for (const auto& request : requests) {
    EXPECT_EQ(jar.CookieHeader(Url(request.to), kNow), request.header) << request.to;
  }
}

TEST(CookieJar, ReplacingRemovingAndExpiring) {
  CookieJar jar;
  const CookieUrl shop = Url("https://shop.example.com/");
  ASSERT_TRUE(jar.TakeSetCookie("a=1", shop, kNow));
  ASSERT_TRUE(jar.TakeSetCookie("b=2; Max-Age=10", shop, kNow));
  ASSERT_TRUE(jar.TakeSetCookie("a=3", shop, kNow));  // replaces, keeps its place
  EXPECT_EQ(jar.CookieHeader(shop, kNow), "a=3; b=2");
  ASSERT_TRUE(jar.TakeSetCookie("a=gone; Max-Age=0", shop, kNow));
  EXPECT_EQ(jar.CookieHeader(shop, kNow), "b=2");
  // Past its Max-Age the cookie is neither sent nor listed.
  EXPECT_EQ(jar.CookieHeader(shop, kNow + 11), "");
  EXPECT_TRUE(jar.Cookies(kNow + 11).empty());
  ASSERT_EQ(jar.Cookies(kNow).size(), 1u);

  // A cookie of the same name on another path is another cookie.
  ASSERT_TRUE(jar.TakeSetCookie("b=root", shop, kNow));
  ASSERT_TRUE(jar.TakeSetCookie("b=deep; Path=/d", shop, kNow));
  EXPECT_EQ(jar.CookieHeader(Url("https://shop.example.com/d/x"), kNow), "b=deep; b=root");
  jar.RemoveWhere([](const StoredCookie& c) { return c.path == "/d"; });
  EXPECT_EQ(jar.CookieHeader(Url("https://shop.example.com/d/x"), kNow), "b=root");
  jar.Clear();
  EXPECT_TRUE(jar.Cookies(kNow).empty());
}

TEST(CookieJar, TheCookieLineStopsBeforeItsLimit) {
  CookieJar jar;
  const CookieUrl shop = Url("https://shop.example.com/");
  const std::string value(1000, 'v');
  for (int i = 0; i < 20; ++i) {
    std::string header = "c";
    header.append(std::to_string(i)).append("=").append(value);
    ASSERT_TRUE(jar.TakeSetCookie(header, shop, kNow));
  }
  const std::string header = jar.CookieHeader(shop, kNow);
  EXPECT_LE(header.size(), kMaxCookieHeaderBytes);
  EXPECT_GT(header.size(), kMaxCookieHeaderBytes - 1010);
  EXPECT_EQ(header.rfind("c0=", 0), 0u);
}

TEST(CookieFile, LinesRoundTripAndBrokenOnesAreRefused) {
  struct Case {
    const char* line;
    bool ok;
    const char* written;  // as written back; null when the same
  };
  const Case cases[] = {
      {"example.com\tFALSE\t/\tFALSE\t0\tsid\tabc", true, nullptr},
      {".example.com\tTRUE\t/p\tTRUE\t1893456000\tt\tv w", true, nullptr},
      {"#HttpOnly_shop.example.com\tFALSE\t/\tTRUE\t0\tcookie2\tx", true, nullptr},
      {"Example.COM\tFALSE\t/\tFALSE\t0\tsid\t", true, "example.com\tFALSE\t/\tFALSE\t0\tsid\t"},
      {"example.com\tFALSE\t/\tFALSE\tsoon\tsid\tabc", false, nullptr},
      {"example.com\tFALSE\t/\tFALSE\t-5\tsid\tabc", false, nullptr},
      {"example.com\tFALSE\t/\tFALSE\t0\tsid", false, nullptr},
      {"\tFALSE\t/\tFALSE\t0\tsid\tabc", false, nullptr},
      {"example.com\tFALSE\tp\tFALSE\t0\tsid\tabc", false, nullptr},
      {"example.com\tFALSE\t/\tFALSE\t0\t\tabc", false, nullptr},
      {"example.com\tFALSE\t/\tFALSE\t0\tsid\ta\tb", false, nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<StoredCookie> cookie = CookieOfFileLine(c.line);
    ASSERT_EQ(cookie.has_value(), c.ok) << c.line;
    if (!cookie) continue;
    EXPECT_EQ(FileLineOfCookie(*cookie), std::string(c.written ? c.written : c.line)) << c.line;
  }
  StoredCookie broken;
  broken.domain = "example.com";
  broken.name = "n";
  broken.value = "a\nb";
  EXPECT_FALSE(FileLineOfCookie(broken));
  CookieJar jar;
  EXPECT_FALSE(jar.Put(broken, kNow));
}

TEST(CookieFile, ACookieFromTheFileIsSentAsItWasSet) {
  CookieJar jar;
  const std::optional<StoredCookie> fromFile =
      CookieOfFileLine("#HttpOnly_.example.com\tTRUE\t/\tTRUE\t0\tsid\tsecret");
  ASSERT_TRUE(fromFile);
  ASSERT_TRUE(jar.Put(*fromFile, kNow));
  EXPECT_EQ(jar.CookieHeader(Url("https://www.example.com/x"), kNow), "sid=secret");
  EXPECT_EQ(jar.CookieHeader(Url("http://www.example.com/x"), kNow), "");
}

}  // namespace
}  // namespace zemlaro
