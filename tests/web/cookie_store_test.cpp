// The cookie store file against libcurl's process-wide cookie store, which every
// other test of this binary shares too: each case starts and ends with it empty.
#include "web/cookie_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "tests/web/local_server.h"
#include "web/curl_session.h"
#include "web/private_file.h"
#include "web/web_request.h"

// Cookies and case tables name only the fields that matter to them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace zemlaro {
namespace {

namespace fs = std::filesystem;

class CookieStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCookies();
    char pattern[] = "/tmp/zemlaro-cookie-store-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    ClearCookies();
    fs::remove_all(folder_);
  }
  fs::path folder_;
};

void WriteFile(const fs::path& path, const std::string& bytes, mode_t mode = 0600) {
  std::ofstream(path, std::ios::binary) << bytes;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// One cookie on one line, every attribute shown, for readable differences.
std::string Describe(const StoredCookie& c) {
  return c.domain + (c.hostOnly ? " host-only " : " with subdomains ") + c.path +
         (c.secure ? " secure" : "") + (c.httpOnly ? " httponly" : "") + " expires " +
         std::to_string(c.expires) + " " + c.name + "=" + c.value;
}

std::vector<std::string> StoreNow() {
  std::vector<std::string> cookies;
  for (const StoredCookie& cookie : StoredCookies()) cookies.push_back(Describe(cookie));
  std::sort(cookies.begin(), cookies.end());
  return cookies;
}

constexpr char kFarFuture[] = "4102444800";  // 2100-01-01

TEST_F(CookieStore, FileToLibcurlToFileKeepsEveryAttribute) {
  const fs::path file = folder_ / "cookies.txt";
  WriteFile(file, std::string("# Netscape HTTP Cookie File\n\n# a comment\n") +
                      "shop.example\tFALSE\t/\tFALSE\t0\tsession\tS1\n" +
                      ".example.com\tTRUE\t/cart\tTRUE\t" + kFarFuture + "\twide\tW2\r\n" +
                      "#HttpOnly_shop.example\tFALSE\t/\tFALSE\t" + kFarFuture + "\thidden\tH3\n" +
                      "  shop.example\tFALSE\t/deep\tFALSE\t0\tindented\tI6\n" +
                      "shop.example\tFALSE\t/\tFALSE\t1000000000\texpired\tE4\n" +
                      // The last line, unended: libcurl keeps a cookie that expired until
                      // the next one comes in, so this is the one a load must drop itself.
                      "shop.example\tFALSE\t/\tFALSE\t1000000001\texpiredlast\tE5");
  const std::vector<std::string> expected = {
      "example.com with subdomains /cart secure expires 4102444800 wide=W2",
      "shop.example host-only / expires 0 session=S1",
      "shop.example host-only / httponly expires 4102444800 hidden=H3",
      "shop.example host-only /deep expires 0 indented=I6",
  };

  const StoreLoad load = LoadCookieStore(file);
  EXPECT_EQ(load.problem, StoreProblem::None);
  EXPECT_EQ(load.cookies, 4);
  EXPECT_EQ(StoreNow(), expected);

  const fs::path saved = folder_ / "again" / "cookies.txt";
  std::string why;
  ASSERT_TRUE(SaveCookieStore(saved, &why)) << why;
  const std::string text = ReadFile(saved);
  EXPECT_EQ(text.rfind("# Netscape HTTP Cookie File\n", 0), 0u) << text;
  EXPECT_NE(text.find("\n#HttpOnly_shop.example\tFALSE\t/\tFALSE\t4102444800\thidden\tH3\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nshop.example\tFALSE\t/\tFALSE\t0\tsession\tS1\n"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("expired"), std::string::npos) << text;

  ClearCookies();
  EXPECT_TRUE(StoredCookies().empty());
  const StoreLoad reload = LoadCookieStore(saved);
  EXPECT_EQ(reload.problem, StoreProblem::None);
  EXPECT_EQ(reload.cookies, 4);
  EXPECT_EQ(StoreNow(), expected);
}

std::string CookieLine(const std::string& request) {
  const std::size_t at = request.find("\r\nCookie: ");
  return at == std::string::npos ? std::string()
                                 : request.substr(at + 2, request.find("\r\n", at + 2) - at - 2);
}

TEST_F(CookieStore, RequestsSendLoadedCookiesAndTheFileKeepsWhatTheServerSet) {
  RawServer site([](const std::string& request) {
    if (RequestTarget(request) == "/sign-in") {
      return RawReply{HttpAnswer("200 OK", "Set-Cookie: ticket=T7; Path=/; HttpOnly\r\n", "in")};
    }
    return RawReply{HttpAnswer("200 OK", "", "page")};
  });
  ASSERT_TRUE(site.Start());
  const std::string base = "http://127.0.0.1:" + std::to_string(site.Port());
  const fs::path file = folder_ / "cookies.txt";
  WriteFile(file, "127.0.0.1\tFALSE\t/\tFALSE\t0\tloaded\tL1\n");
  ASSERT_EQ(LoadCookieStore(file).cookies, 1);

  auto session = MakeCurlSession();
  ASSERT_EQ(WebRequest(*session, base + "/sign-in"), BytesOfText("in"));
  ASSERT_EQ(site.Requests().size(), 1u);
  EXPECT_EQ(CookieLine(site.Requests()[0]), "Cookie: loaded=L1");

  std::string why;
  ASSERT_TRUE(SaveCookieStore(file, &why)) << why;
  const std::string text = ReadFile(file);
  EXPECT_NE(text.find("\n#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tticket\tT7\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\n127.0.0.1\tFALSE\t/\tFALSE\t0\tloaded\tL1\n"), std::string::npos) << text;

  // The next run: a store loaded from the saved file sends both.
  ClearCookies();
  ASSERT_EQ(LoadCookieStore(file).cookies, 2);
  ASSERT_EQ(WebRequest(*session, base + "/next"), BytesOfText("page"));
  ASSERT_EQ(site.Requests().size(), 2u);
  const std::string sent = CookieLine(site.Requests()[1]);
  EXPECT_NE(sent.find("loaded=L1"), std::string::npos) << sent;
  EXPECT_NE(sent.find("ticket=T7"), std::string::npos) << sent;
}

TEST_F(CookieStore, FirstWriteMakesAPrivateFolderAndFile) {
  const fs::path data = folder_ / "data";
  const fs::path file = data / "zemlaro" / "cookies.txt";
  ASSERT_TRUE(PutCookie({.domain = "shop.example", .name = "sid", .value = "V1"}));
  std::string why;
  ASSERT_TRUE(SaveCookieStore(file, &why)) << why;
  EXPECT_EQ(ModeOf(data), 0700u);
  EXPECT_EQ(ModeOf(data / "zemlaro"), 0700u);
  EXPECT_EQ(ModeOf(file), 0600u);

  // A file that others could read is replaced by a private one, not rewritten in place.
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  ASSERT_TRUE(SaveCookieStore(file, &why)) << why;
  EXPECT_EQ(ModeOf(file), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(data / "zemlaro"), fs::directory_iterator()), 1)
      << "no temporary file left behind";
}

TEST_F(CookieStore, ReplacementAlwaysLeavesOneWholeVersion) {
  const fs::path file = folder_ / "cookies.txt";
  // Large enough that a file written in place would be caught half written.
  const std::string versions[] = {std::string(300 * 1024, 'a'), std::string(200 * 1024, 'b')};
  ASSERT_TRUE(ReplacePrivateFile(file, versions[0], nullptr));

  constexpr int kWrites = 60;
  std::atomic<int> writersDone{0};
  std::atomic<int> failedWrites{0};
  auto writer = [&](const std::string& version) {
    for (int i = 0; i < kWrites; ++i) {
      if (!ReplacePrivateFile(file, version, nullptr)) ++failedWrites;
    }
    ++writersDone;
  };
  int reads = 0;
  int partial = 0;
  std::thread first(writer, versions[0]);
  std::thread second(writer, versions[1]);
  // Reads go on until both writers are done, and at least a few times.
  while (writersDone < 2 || reads < 20) {
    const PrivateFileRead read = ReadPrivateFile(file, 1 << 20);
    ++reads;
    if (read.status != PrivateFileStatus::Read ||
        (read.bytes != versions[0] && read.bytes != versions[1])) {
      ++partial;
    }
  }
  first.join();
  second.join();
  EXPECT_EQ(failedWrites, 0);
  EXPECT_EQ(partial, 0) << "of " << reads << " reads";
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
      << "no temporary file left behind";

  // The later writer wins.
  ASSERT_TRUE(ReplacePrivateFile(file, "last", nullptr));
  EXPECT_EQ(ReadFile(file), "last");
}

struct BadFileCase {
  const char* name;
  std::function<void(const fs::path& path)> make;
  StoreProblem problem;
  int cookies;
};

TEST_F(CookieStore, BadFilesGiveTheirProblemAndKeepWhatWasReadable) {
  const std::string good = "shop.example\tFALSE\t/\tFALSE\t0\tgood\tSECRET-good\n";
  constexpr char kZeroInside[] = "shop.example\tFALSE\t/\tFALSE\t0\tcut\tSECRET\0-rest\n";
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919 + i / 13) % 256);
  const BadFileCase cases[] = {
      {"lines that are not cookies",
       [&](const fs::path& p) {
         WriteFile(p, "not a cookie\n" + good + "a\tb\tc\n" +
                          "shop.example\tFALSE\t/\tFALSE\tsoon\tbadexpiry\tSECRET-expiry\n");
       },
       StoreProblem::Malformed, 1},
      {"cut off in the middle of a line",
       [&](const fs::path& p) { WriteFile(p, good + "shop.example\tFALSE\t/pa"); },
       StoreProblem::Malformed, 1},
      {"binary junk around a good line",
       [&](const fs::path& p) { WriteFile(p, junk + "\n" + good + junk); }, StoreProblem::Malformed,
       1},
      // libcurl would take the part before the zero byte as the whole value.
      {"a zero byte inside a line",
       [&](const fs::path& p) {
         WriteFile(p, good + std::string(kZeroInside, sizeof kZeroInside - 1));
       },
       StoreProblem::Malformed, 1},
      // libcurl itself would take a cookie of 1 MB from it.
      {"a 1 MB line",
       [&](const fs::path& p) {
         WriteFile(p, "shop.example\tFALSE\t/\tFALSE\t0\thuge\tSECRET" + std::string(1 << 20, 'v') +
                          "\n" + good);
       },
       StoreProblem::Malformed, 1},
      {"readable by others", [&](const fs::path& p) { WriteFile(p, good, 0644); },
       StoreProblem::OpenToOthers, 0},
      {"readable by the group", [&](const fs::path& p) { WriteFile(p, good, 0640); },
       StoreProblem::OpenToOthers, 0},
      {"a folder", [&](const fs::path& p) { fs::create_directory(p); }, StoreProblem::NotAFile, 0},
      {"a pipe, which must not hold the load up",
       [&](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, StoreProblem::NotAFile,
       0},
      {"past the size a cookie file can have",
       [&](const fs::path& p) {
         WriteFile(p, good + "#" + std::string(kMaxCookieFileBytes, 'x') + "\n");
       },
       StoreProblem::TooLarge, 0},
      {"under a file, not a folder", [&](const fs::path& p) { WriteFile(p.parent_path(), good); },
       StoreProblem::Unreadable, 0},
      {"missing", [](const fs::path&) {}, StoreProblem::None, 0},
      {"empty", [&](const fs::path& p) { WriteFile(p, ""); }, StoreProblem::None, 0},
  };
  for (const BadFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClearCookies();
    fs::remove_all(folder_);
    fs::create_directory(folder_);
    const fs::path file = c.problem == StoreProblem::Unreadable
                              ? folder_ / "zemlaro" / "cookies.txt"
                              : folder_ / "cookies.txt";
    c.make(file);

    const StoreLoad load = LoadCookieStore(file);
    EXPECT_EQ(load.problem, c.problem);
    EXPECT_EQ(load.cookies, c.cookies);
    EXPECT_EQ(StoredCookies().size(), static_cast<std::size_t>(c.cookies));
    EXPECT_EQ(CookieValue("good"),
              c.cookies > 0 ? std::optional<std::string>("SECRET-good") : std::nullopt);
    const std::string text = StoreProblemText(load.problem, file);
    if (c.problem == StoreProblem::None) {
      EXPECT_EQ(text, "");
    } else {
      EXPECT_NE(text.find(file.string()), std::string::npos) << text;
      EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
    }
  }
}

TEST_F(CookieStore, FailedSaveSaysWhyWithoutAValue) {
  ASSERT_TRUE(PutCookie({.domain = "shop.example", .name = "sid", .value = "SECRET-sid"}));
  WriteFile(folder_ / "plain", "x");
  fs::create_directory(folder_ / "taken");
  for (const fs::path& path : {folder_ / "plain" / "cookies.txt", folder_ / "taken", fs::path()}) {
    SCOPED_TRACE(path.string());
    std::string why;
    EXPECT_FALSE(SaveCookieStore(path, &why));
    EXPECT_NE(why, "");
    EXPECT_EQ(why.find("SECRET"), std::string::npos) << why;
  }
  EXPECT_TRUE(fs::is_directory(folder_ / "taken"));
  EXPECT_EQ(ReadFile(folder_ / "plain"), "x");
}

TEST_F(CookieStore, PutReplacesAndRemoveTakesCookiesOutOfRequestsAndFile) {
  ASSERT_TRUE(PutCookie({.domain = "shop.example", .name = "sid", .value = "V1"}));
  EXPECT_EQ(CookieValue("sid"), "V1");
  // The same domain, path and name, now for subdomains as well: one cookie, replaced.
  ASSERT_TRUE(
      PutCookie({.domain = "shop.example", .hostOnly = false, .name = "sid", .value = "V2"}));
  EXPECT_EQ(StoreNow(),
            std::vector<std::string>{"shop.example with subdomains / expires 0 sid=V2"});
  ASSERT_TRUE(PutCookie({.domain = "other.example", .path = "/a", .name = "sid", .value = "V3"}));
  ASSERT_TRUE(PutCookie({.domain = "other.example", .name = "keep", .value = "K"}));

  // A field that would break the line, or a cookie libcurl refuses, changes nothing.
  EXPECT_FALSE(PutCookie({.domain = "shop.example", .name = "sid", .value = "a\tb"}));
  EXPECT_FALSE(PutCookie({.domain = "shop.example", .name = "sid", .value = "a\nb"}));
  EXPECT_FALSE(PutCookie({.domain = "shop.example", .name = "__Host-x", .value = "insecure"}));
  EXPECT_FALSE(PutCookie({.domain = "", .name = "sid", .value = "V"}));
  EXPECT_EQ(StoredCookies().size(), 3u);

  RemoveCookie(".SHOP.example", "/", "sid");
  EXPECT_EQ(StoreNow(), (std::vector<std::string>{"other.example host-only / expires 0 keep=K",
                                                  "other.example host-only /a expires 0 sid=V3"}));
  RemoveCookiesNamed("sid");
  EXPECT_EQ(CookieValue("sid"), std::nullopt);
  EXPECT_EQ(CookieValue("keep"), "K");

  const fs::path file = folder_ / "cookies.txt";
  ASSERT_TRUE(SaveCookieStore(file));
  EXPECT_EQ(ReadFile(file).find("sid"), std::string::npos) << ReadFile(file);

  RawServer site([](const std::string&) { return RawReply{HttpAnswer("200 OK", "", "page")}; });
  ASSERT_TRUE(site.Start());
  ASSERT_TRUE(PutCookie({.domain = "127.0.0.1", .name = "gone", .value = "G"}));
  ASSERT_TRUE(PutCookie({.domain = "127.0.0.1", .name = "stays", .value = "S"}));
  RemoveCookiesNamed("gone");
  auto session = MakeCurlSession();
  WebRequest(*session, "http://127.0.0.1:" + std::to_string(site.Port()) + "/");
  ASSERT_EQ(site.Requests().size(), 1u);
  EXPECT_EQ(CookieLine(site.Requests()[0]), "Cookie: stays=S");
}

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void Restore(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

struct PathCase {
  const char* xdgDataHome;
  const char* home;
  std::string path;
};

TEST(CookieStorePath, FollowsTheXdgDataFolder) {
  const PathCase cases[] = {
      {"/data", "/home/u", "/data/zemlaro/cookies.txt"},
      {"/data/", "/home/u", "/data/zemlaro/cookies.txt"},
      {"", "/home/u", "/home/u/.local/share/zemlaro/cookies.txt"},
      {nullptr, "/home/u", "/home/u/.local/share/zemlaro/cookies.txt"},
      {"relative/data", "/home/u", "/home/u/.local/share/zemlaro/cookies.txt"},
      {nullptr, nullptr, ""},
      {"", "", ""},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::string(c.xdgDataHome ? c.xdgDataHome : "(unset)") + " / " +
                 (c.home ? c.home : "(unset)"));
    EXPECT_EQ(CookieStorePath(c.xdgDataHome, c.home), c.path);
  }

  const std::optional<std::string> xdg = Environment("XDG_DATA_HOME");
  const std::optional<std::string> home = Environment("HOME");
  setenv("XDG_DATA_HOME", "/xdg", 1);
  setenv("HOME", "/somebody", 1);
  EXPECT_EQ(DefaultCookieStorePath(), "/xdg/zemlaro/cookies.txt");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultCookieStorePath(), "/somebody/.local/share/zemlaro/cookies.txt");
  Restore("XDG_DATA_HOME", xdg);
  Restore("HOME", home);
}

}  // namespace
}  // namespace zemlaro
