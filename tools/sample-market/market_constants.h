// The sample market's fixed values: its paths, the names of its cookies, the keys and codes
// of the signed API. Values that may have to change when the live service changes each live
// here once. Constants only; any thread.
#pragma once

#include <chrono>
#include <string_view>

namespace zemlaro::market {

// ---- paths ------------------------------------------------------------------------------------

inline constexpr char kSearchPath[] = "/search";  // the legacy JSONP search
inline constexpr char kItemPath[] = "/item.htm";
inline constexpr char kLoginPath[] = "/member/login.jhtml";  // GET: the form; POST: sign-in
inline constexpr char kPunishPath[] = "/punish";             // GET: the page; POST: the x5sec
inline constexpr char kApiPath[] = "/h5/mtop.relationrecommend.wirelessrecommend.recommend/2.0/";

// The query key (and hidden form field) that carries the address to go back to.
inline constexpr char kRedirectUrlKey[] = "redirectURL";
// The key of the verification address that names the challenge.
inline constexpr char kX5SecDataKey[] = "x5secdata";

// ---- sign-in ----------------------------------------------------------------------------------

// Set by a sign-in, HttpOnly, with no expiry, for path "/" of the host asked. A search passes
// the login wall when all of them carry the values of one sign-in.
inline constexpr std::string_view kSessionCookieNames[] = {"cookie2", "sgcookie", "_tb_token_"};
// Set by a sign-in too, with an expiry of kTokenCookieLifetime; not checked.
inline constexpr char kTokenCookieName[] = "unb";
inline constexpr auto kTokenCookieLifetime = std::chrono::hours(24);
// With the login wall, every search answer (of either service) sets this cookie anew, with a
// fresh value and an expiry of kRefreshedCookieLifetime.
inline constexpr char kRefreshedCookieName[] = "isg";
inline constexpr auto kRefreshedCookieLifetime = std::chrono::hours(24 * 180);
// Set by the punish page's button; with it a search passes the verification wall.
inline constexpr char kVerificationCookieName[] = "x5sec";
inline constexpr auto kVerificationCookieLifetime = std::chrono::hours(1);

// ---- the signed API ---------------------------------------------------------------------------

inline constexpr char kApiName[] = "mtop.relationrecommend.wirelessrecommend.recommend";
inline constexpr char kApiVersion[] = "2.0";
inline constexpr char kApiCallbackPrefix[] = "mtopjsonp";
// The token cookie, "<32 hex>_<expiry ms>", and its companion; both set by a token refusal.
inline constexpr char kApiTokenCookie[] = "_m_h5_tk";
inline constexpr char kApiTokenEncCookie[] = "_m_h5_tk_enc";
// Listings of a Normal API page (the cards between them come on top).
inline constexpr int kApiPageSize = 48;
// PARAMS keys a request must carry; one without any of them is refused with
// kApiRetBadParams.
inline constexpr std::string_view kApiRequiredParams[] = {"page", "n",   "pageSize", "q",
                                                          "sort", "tab", "m"};

// `ret[0]` of the answers.
inline constexpr char kApiRetSuccess[] = "SUCCESS::调用成功";
inline constexpr char kApiRetTokenEmpty[] = "FAIL_SYS_TOKEN_EMPTY::令牌为空";
inline constexpr char kApiRetTokenExpired[] = "FAIL_SYS_TOKEN_EXOIRED::令牌过期";  // sic
inline constexpr char kApiRetBadSign[] = "FAIL_SYS_ILLEGAL_ACCESS::非法请求";
inline constexpr char kApiRetBadParams[] = "FAIL_BIZ_PARAM_ERROR::参数错误";
inline constexpr char kApiRetUserValidate[] = "FAIL_SYS_USER_VALIDATE::请登录";
inline constexpr char kApiRetBlock[] = "RGV587_ERROR::SM::哎哟喂,被挤爆啦,请稍后重试";
inline constexpr char kApiRetFlowLimit[] = "FAIL_SYS_SERVICE_FLOW_LIMIT::被挤爆啦,请稍后重试";
inline constexpr char kApiRetSessionExpired[] = "FAIL_SYS_SESSION_EXPIRED::Session过期";

}  // namespace zemlaro::market
