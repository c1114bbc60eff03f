#include "search/page_outcome.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

namespace zemlaro {
namespace {

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  const auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  return std::search(text.begin(), text.end(), word.begin(), word.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

template <typename Words>
bool ContainsAny(std::string_view text, const Words& words) {
  return std::any_of(std::begin(words), std::end(words),
                     [&](std::string_view word) { return ContainsIgnoringCase(text, word); });
}

// The markers of the service's verification walls, in an address or a body.
constexpr std::string_view kVerificationMarkers[] = {
    "rgv587_flag", "_____tmd_____", "punish", "x5secdata", "sec.taobao.com/query.htm",
    "deny_h5",     "action=captcha"};
constexpr std::string_view kLoginAddresses[] = {"login.taobao.com/member/login.jhtml",
                                                "login.taobao.com/havanaone/login/login.htm",
                                                "/member/login.jhtml"};
// 登录 and 验证 stand in UTF-8 and in code page 936.
constexpr std::string_view kSignInWords[] = {"login", "\xE7\x99\xBB\xE5\xBD\x95",
                                             "\xB5\xC7\xC2\xBC"};
constexpr std::string_view kCheckWords[] = {"captcha", "verify", "\xE9\xAA\x8C\xE8\xAF\x81",
                                            "\xD1\xE9\xD6\xA4"};

// The `url` of an answer that is one JSON object, such as {"rgv587_flag":"sm","url":"..."}.
std::string UrlOfJsonAnswer(std::string_view body) {
  const auto json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
  if (!json.is_object()) return {};
  const auto url = json.find("url");
  if (url == json.end() || !url->is_string()) return {};
  return url->get<std::string>();
}

// What an answer without listings reads like when no address told us: the words the
// service's login and check pages hold.
bool LooksLikeSignInPage(std::string_view body) { return ContainsAny(body, kSignInWords); }
bool LooksLikeCheckPage(std::string_view body) { return ContainsAny(body, kCheckWords); }

}  // namespace

bool StopsTheRun(PageOutcomeKind kind) {
  return kind == PageOutcomeKind::SignInRequired || kind == PageOutcomeKind::VerificationRequired ||
         kind == PageOutcomeKind::SlowDown;
}

bool WorthTelling(PageOutcomeKind kind) {
  return kind != PageOutcomeKind::Listings && kind != PageOutcomeKind::NoListings;
}

bool IsSignInAddress(std::string_view address) { return ContainsAny(address, kLoginAddresses); }

bool IsVerificationAddress(std::string_view address) {
  return ContainsAny(address, kVerificationMarkers);
}

PageOutcome ClassifyLegacyPage(int rowsAdded, const Bytes& answer, std::string_view requestError,
                               std::string_view finalAddress) {
  if (rowsAdded > 0) return {PageOutcomeKind::Listings, {}, {}};
  if (IsSignInAddress(finalAddress)) {
    return {PageOutcomeKind::SignInRequired, {}, std::string(finalAddress)};
  }
  if (IsVerificationAddress(finalAddress)) {
    return {PageOutcomeKind::VerificationRequired, {}, std::string(finalAddress)};
  }
  if (answer.empty()) {
    if (!requestError.empty())
      return {PageOutcomeKind::RequestFailed, std::string(requestError), {}};
    return {PageOutcomeKind::NoListings, "empty answer", {}};
  }
  const std::string_view body(reinterpret_cast<const char*>(answer.data()), answer.size());
  if (ContainsAny(body, kVerificationMarkers)) {
    const std::string url = UrlOfJsonAnswer(body);
    if (IsSignInAddress(url)) return {PageOutcomeKind::SignInRequired, {}, url};
    return {PageOutcomeKind::VerificationRequired, {}, url};
  }
  if (LooksLikeCheckPage(body)) return {PageOutcomeKind::VerificationRequired, {}, {}};
  if (LooksLikeSignInPage(body)) return {PageOutcomeKind::SignInRequired, {}, {}};
  return {PageOutcomeKind::NoListings, {}, {}};
}

}  // namespace zemlaro
