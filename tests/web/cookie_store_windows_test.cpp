// The Windows build's cookie store: the file in libcurl's lines read into the
// process's jar and written back through the platform's file calls (run under Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "web/cookie_store.h"
#include "web/private_file.h"

namespace zemlaro {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class WindowsCookieStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCookies();
    folder_ = fs::temp_directory_path() /
              ("zemlaro-store-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    ASSERT_TRUE(fs::create_directories(folder_));
  }
  void TearDown() override {
    ClearCookies();
    fs::remove_all(folder_);
  }
  fs::path folder_;
};

TEST(WindowsCookieStorePath, LocalAppDataFirstThenTheProfile) {
  struct Case {
    const char* localAppData;
    const char* userProfile;
    const char* path;
  };
  const Case cases[] = {
      {"C:\\Users\\u\\AppData\\Local", "C:\\Users\\u",
       "C:\\Users\\u\\AppData\\Local\\zemlaro\\cookies.txt"},
      {"C:\\Users\\u\\AppData\\Local\\\\", nullptr,
       "C:\\Users\\u\\AppData\\Local\\zemlaro\\cookies.txt"},
      {"\\\\server\\home\\u", nullptr, "\\\\server\\home\\u\\zemlaro\\cookies.txt"},
      {nullptr, "D:\\Profiles\\u", "D:\\Profiles\\u\\AppData\\Local\\zemlaro\\cookies.txt"},
      {"relative\\folder", "D:/u", "D:/u\\AppData\\Local\\zemlaro\\cookies.txt"},
      {"", "", ""},
      {nullptr, "u", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CookieStorePath(c.localAppData, c.userProfile), c.path)
        << (c.localAppData ? c.localAppData : "(unset)");
  }
}

TEST_F(WindowsCookieStore, AFileOfLibcurlsLinesIsReadAndBrokenLinesAreSkipped) {
  const fs::path file = folder_ / "cookies.txt";
  WriteAll(file,
           "\xEF\xBB\xBF# Netscape HTTP Cookie File\r\n"
           "\r\n"
           "#HttpOnly_shop.example.com\tFALSE\t/\tTRUE\t0\tcookie2\tsecret\r\n"
           "  .example.com\tTRUE\t/\tFALSE\t4102444800\tunb\t2200\n"
           "example.com\tFALSE\t/\tFALSE\t1000\told\tgone\n"
           "not a cookie line\n"
           "example.com\tFALSE\t/\tFALSE\t0\tlast\tno line end");
  const StoreLoad load = LoadCookieStore(Utf8(file));
  EXPECT_EQ(load.problem, StoreProblem::Malformed);
  EXPECT_EQ(load.cookies, 3);
  EXPECT_EQ(CookieValue("cookie2"), "secret");
  EXPECT_EQ(CookieValue("unb"), "2200");
  EXPECT_EQ(CookieValue("last"), "no line end");
  EXPECT_FALSE(CookieValue("old"));  // expired in 1970
  for (const StoredCookie& cookie : StoredCookies()) {
    if (cookie.name != "cookie2") continue;
    EXPECT_TRUE(cookie.httpOnly);
    EXPECT_TRUE(cookie.secure);
    EXPECT_TRUE(cookie.hostOnly);
    EXPECT_EQ(cookie.domain, "shop.example.com");
  }
}

TEST_F(WindowsCookieStore, WhatCannotBeReadSaysWhy) {
  const fs::path big = folder_ / "big.txt";
  WriteAll(big, std::string(2000, '#'));
  const fs::path longLine = folder_ / "long.txt";
  WriteAll(longLine, "example.com\tFALSE\t/\tFALSE\t0\tn\t" + std::string(6000, 'v') + "\n");
  struct Case {
    fs::path path;
    CookieFileLimits limits;
    StoreProblem problem;
  };
  const Case cases[] = {
      {folder_ / "missing.txt", {}, StoreProblem::None},
      {folder_ / "no-folder" / "cookies.txt", {}, StoreProblem::None},
      {folder_, {}, StoreProblem::NotAFile},
      {big, {1000, kMaxCookieLineBytes}, StoreProblem::TooLarge},
      {big, {}, StoreProblem::None},
      {longLine, {}, StoreProblem::Malformed},
  };
  for (const Case& c : cases) {
    const StoreLoad load = LoadCookieStore(Utf8(c.path), c.limits);
    EXPECT_EQ(load.problem, c.problem) << Utf8(c.path);
    EXPECT_EQ(load.cookies, 0) << Utf8(c.path);
  }
  EXPECT_NE(StoreProblemText(StoreProblem::TooLarge, "F").find("The cookie file F"),
            std::string::npos);
}

TEST_F(WindowsCookieStore, SavedStoreReadsBackTheSameAndLeavesNoTemporaryFile) {
  StoredCookie session;
  session.domain = "shop.example.com";
  session.name = "cookie2";
  session.value = "secret";
  session.httpOnly = true;
  StoredCookie wide;
  wide.domain = ".example.com";
  wide.hostOnly = false;
  wide.path = "/p";
  wide.secure = true;
  wide.expires = 4102444800;
  wide.name = "unb";
  wide.value = "v w";
  ASSERT_TRUE(PutCookie(session));
  ASSERT_TRUE(PutCookie(wide));
  StoredCookie broken = session;
  broken.value = "a\r\nb";
  EXPECT_FALSE(PutCookie(broken));

  // A folder that is not there yet, with a name outside the ANSI code page.
  const fs::path folder = folder_ / fs::path(L"\u6DD8\u5B9D") / "zemlaro";
  const fs::path file = folder / "cookies.txt";
  std::string why;
  ASSERT_TRUE(SaveCookieStore(Utf8(file), &why)) << why;
  const std::string text = ReadAll(file);
  EXPECT_NE(text.find("#HttpOnly_shop.example.com\tFALSE\t/\tFALSE\t0\tcookie2\tsecret\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\n.example.com\tTRUE\t/p\tTRUE\t4102444800\tunb\tv w\n"), std::string::npos)
      << text;
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);

  // Saved again over the old file, then read back into an empty store.
  ASSERT_TRUE(SaveCookieStore(Utf8(file), &why)) << why;
  ClearCookies();
  EXPECT_TRUE(StoredCookies().empty());
  const StoreLoad load = LoadCookieStore(Utf8(file));
  EXPECT_EQ(load.problem, StoreProblem::None);
  EXPECT_EQ(load.cookies, 2);
  EXPECT_EQ(CookieValue("unb"), "v w");

  RemoveCookie("EXAMPLE.com", "/p", "unb");
  EXPECT_FALSE(CookieValue("unb"));
  RemoveCookiesNamed("cookie2");
  EXPECT_TRUE(StoredCookies().empty());

  EXPECT_FALSE(SaveCookieStore("", &why));
  EXPECT_FALSE(why.empty());
}

TEST_F(WindowsCookieStore, AFileInTheWayOfTheFolderFailsTheSave) {
  WriteAll(folder_ / "taken", "a file");
  std::string why;
  EXPECT_FALSE(SaveCookieStore(Utf8(folder_ / "taken" / "cookies.txt"), &why));
  EXPECT_NE(why.find("folder"), std::string::npos) << why;
}

}  // namespace
}  // namespace zemlaro
