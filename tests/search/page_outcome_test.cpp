#include "search/page_outcome.h"

#include <gtest/gtest.h>

#include <string>

namespace zemlaro {
namespace {

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(ClassifyLegacyPage, TellsWhyAPageGaveNothing) {
  struct Case {
    const char* name;
    int rows;
    std::string body;
    std::string error;
    std::string finalAddress;
    PageOutcomeKind kind;
    std::string address;
  };
  const std::string login =
      "https://login.taobao.com/member/login.jhtml?redirectURL=https%3A%2F%2Fs.taobao.com%2F";
  const Case cases[] = {
      {"rows came", 44, "jsonp101({})", "", "", PageOutcomeKind::Listings, ""},
      {"rows came even past a login word", 3, "login", "", login, PageOutcomeKind::Listings, ""},
      {"a failed request", 0, "", "timed out: no byte for 30 s", "", PageOutcomeKind::RequestFailed,
       ""},
      {"an empty answer", 0, "", "", "", PageOutcomeKind::NoListings, ""},
      {"redirected to the login page", 0, "<html><form>", "", login,
       PageOutcomeKind::SignInRequired, login},
      {"redirected to the new login page", 0, "<html>", "",
       "https://login.taobao.com/havanaone/login/login.htm?bizName=taobao",
       PageOutcomeKind::SignInRequired,
       "https://login.taobao.com/havanaone/login/login.htm?bizName=taobao"},
      {"redirected to a check", 0, "<html>", "",
       "https://s.taobao.com//search/_____tmd_____/punish?x5secdata=abc",
       PageOutcomeKind::VerificationRequired,
       "https://s.taobao.com//search/_____tmd_____/punish?x5secdata=abc"},
      {"a JSON wall with its address", 0,
       R"({"rgv587_flag":"sm","url":"https:\/\/s.taobao.com\/punish?x5secdata=xyz&x5step=1"})", "",
       "", PageOutcomeKind::VerificationRequired,
       "https://s.taobao.com/punish?x5secdata=xyz&x5step=1"},
      {"a JSON wall that sends to the login page", 0,
       R"({"rgv587_flag":"sm","url":"https://login.taobao.com/member/login.jhtml?x=1"})", "", "",
       PageOutcomeKind::SignInRequired, "https://login.taobao.com/member/login.jhtml?x=1"},
      {"a captcha page", 0, "<script>var u='/query.htm?action=captcha';</script>", "", "",
       PageOutcomeKind::VerificationRequired, ""},
      {"a denial for the mobile page", 0, "deny_h5", "", "", PageOutcomeKind::VerificationRequired,
       ""},
      {"a security query page", 0, "<a href='https://sec.taobao.com/query.htm?x'>", "", "",
       PageOutcomeKind::VerificationRequired, ""},
      {"a login page served in place", 0, "<html><title>Login</title>", "", "",
       PageOutcomeKind::SignInRequired, ""},
      {"a login page in code page 936", 0, "<html>\xB5\xC7\xC2\xBC</html>", "", "",
       PageOutcomeKind::SignInRequired, ""},
      {"a well-formed answer without listings", 0,
       R"(jsonp101({"mods":{"itemlist":{"data":{"auctions":[]}}}}))", "", "",
       PageOutcomeKind::NoListings, ""},
  };
  for (const Case& c : cases) {
    const PageOutcome outcome =
        ClassifyLegacyPage(c.rows, BytesOf(c.body), c.error, c.finalAddress);
    EXPECT_EQ(outcome.kind, c.kind) << c.name;
    EXPECT_EQ(outcome.address, c.address) << c.name;
    if (c.kind == PageOutcomeKind::RequestFailed) {
      EXPECT_EQ(outcome.reason, c.error) << c.name;
    }
  }
}

TEST(PageOutcome, WhichOutcomesStopARunAndWhichAreTold) {
  using K = PageOutcomeKind;
  struct Case {
    K kind;
    bool stops;
    bool told;
  };
  const Case cases[] = {
      {K::Listings, false, false},           {K::NoListings, false, false},
      {K::RequestFailed, false, true},       {K::SignInRequired, true, true},
      {K::VerificationRequired, true, true}, {K::SlowDown, true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StopsTheRun(c.kind), c.stops) << static_cast<int>(c.kind);
    EXPECT_EQ(WorthTelling(c.kind), c.told) << static_cast<int>(c.kind);
  }
  EXPECT_TRUE(IsSignInAddress("https://127.0.0.1:4000/member/login.jhtml?redirectURL=x"));
  EXPECT_FALSE(IsSignInAddress("https://s.taobao.com/search?q=login"));
  EXPECT_TRUE(IsVerificationAddress("https://127.0.0.1:4000/punish?x5secdata=1"));
  EXPECT_FALSE(IsVerificationAddress("https://s.taobao.com/search?q=%E6%89%8B"));
}

}  // namespace
}  // namespace zemlaro
