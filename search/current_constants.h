// The current search service's fixed values: where it is, how a request is named
// and signed, what goes into its parameters, and the codes its answers carry.
// Values that may have to change when the service changes each live here once.
#pragma once

#include <string_view>

namespace zemlaro {

// Host (and optional ":port") of the service, reached over HTTPS.
inline constexpr char kCurrentServiceHost[] = "h5api.m.taobao.com";
inline constexpr char kCurrentServicePath[] =
    "/h5/mtop.relationrecommend.wirelessrecommend.recommend/2.0/";

// The fixed query keys, in the order they are sent.
inline constexpr char kCurrentJsv[] = "2.7.2";
inline constexpr char kCurrentAppKey[] = "12574478";
inline constexpr char kCurrentApi[] = "mtop.relationrecommend.wirelessrecommend.recommend";
inline constexpr char kCurrentApiVersion[] = "2.0";
inline constexpr char kCurrentAnswerType[] = "jsonp";  // both `type` and `dataType`
inline constexpr char kCurrentCallbackPrefix[] = "mtopjsonp";

// The appId of DATA.
inline constexpr char kCurrentAppId[] = "34385";

// Listings per page; pages count from 1.
inline constexpr int kCurrentPageSize = 48;
// The most pages a run asks for, whatever the answer's page count says.
inline constexpr int kCurrentPageCap = 100;

// true: each request, the retry after a token refusal included, is signed with the
// clock's time of that moment, in case the service compares `t` with its own clock.
// false: the retry is sent with the first request's `t`.
inline constexpr bool kCurrentFreshTimestamp = true;

// The request headers besides the cookies.
inline constexpr char kCurrentReferer[] = "https://s.taobao.com/";
inline constexpr char kCurrentUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";

// PARAMS, in the order sent: "page" (1-based) first, then "n" and "pageSize" (both
// kCurrentPageSize, as numbers), "q" (the keyword's UTF-8, percent-encoded), then
// these string keys. The first three are needed; the rest are what a browser sends
// besides: drop or add entries here as the service requires.
struct CurrentParam {
  std::string_view key;
  std::string_view value;
};
inline constexpr CurrentParam kCurrentParams[] = {
    {"sort", "_coefp"},        {"tab", "all"},      {"m", "pc"},
    {"device", "HMA-AL00"},    {"style", "list"},   {"from", "nt_history"},
    {"schemaType", "auction"}, {"isBeta", "false"}, {"search_action", "initiative"},
};

// The cookie holding the signing token, "<32 hex>_<expiry ms>", and its companion.
// Both are set by a token refusal; a sign-in should drop both, since a token minted
// before it no longer fits the signed-in session.
inline constexpr char kCurrentTokenCookie[] = "_m_h5_tk";
inline constexpr char kCurrentTokenEncCookie[] = "_m_h5_tk_enc";

// The codes of `ret[0]`, the part before its first "::".
inline constexpr char kCurrentRetSuccess[] = "SUCCESS";
// "EXOIRED" is the service's own spelling; the plain one is taken too.
inline constexpr std::string_view kCurrentRetTokenRefused[] = {
    "FAIL_SYS_TOKEN_EMPTY", "FAIL_SYS_TOKEN_EXOIRED", "FAIL_SYS_TOKEN_EXPIRED"};
inline constexpr char kCurrentRetSessionExpired[] = "FAIL_SYS_SESSION_EXPIRED";
inline constexpr std::string_view kCurrentRetCheck[] = {"FAIL_SYS_USER_VALIDATE", "RGV587_ERROR"};
inline constexpr char kCurrentRetBadSign[] = "FAIL_SYS_ILLEGAL_ACCESS";
inline constexpr std::string_view kCurrentRetSlowDown[] = {"FAIL_SYS_SERVICE_FLOW_LIMIT",
                                                           "FAIL_SYS_TRAFFIC_LIMIT"};

// Login pages the service's `data.url` may name: a host, and paths on any host (the
// sample market serves the latter).
inline constexpr char kCurrentLoginHost[] = "login.taobao.com";
inline constexpr std::string_view kCurrentLoginPaths[] = {"/member/login.jhtml",
                                                          "/havanaone/login/"};

}  // namespace zemlaro
