#include "tools/sample-market/market_content.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string_view>

#include "tools/support/escape.h"

namespace zemlaro::market {
namespace {

// ---------------------------------------------------------------------------------------------
// Deterministic listing content

uint64_t Fnv1a(std::string_view s) {
  uint64_t h = 14695981039346656037ULL;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

uint64_t ListingSeed(const std::string& keyword, int page, int index) {
  const uint64_t where =
      (uint64_t{static_cast<uint32_t>(page)} << 32) | static_cast<uint32_t>(index);
  return Mix(Fnv1a(keyword) ^ Mix(where));
}

template <size_t N>
const char* Pick(const char* const (&words)[N], uint64_t r) {
  return words[r % N];
}

constexpr const char* kLeadWords[] = {"新款", "正品", "包邮", "热卖", "官方", "原装",
                                      "韩版", "时尚", "简约", "经典", "进口", "限时特价"};
constexpr const char* kMiddleWords[] = {"男女同款", "加厚", "大容量", "便携式", "智能", "防水",
                                        "高清",     "家用", "学生",   "办公",   "户外", "专用"};
constexpr const char* kTailWords[] = {"套装",   "礼盒装", "旗舰款", "配件", "精选",
                                      "升级版", "全新",   "现货",   "特惠", "爆款"};
// Seller nicks mix Chinese and ASCII (both letter cases) so that a fragment filter keeps a
// part of a page.
constexpr const char* kNickHeads[] = {"发个", "哈哈", "小店", "tb",   "Apple", "zm",
                                      "优品", "ABC",  "abc",  "数码", "星光",  "Mi"};
constexpr const char* kNickTails[] = {"旗舰店", "小店",  "数码专营", "888",   "shop",  "官方店",
                                      "哈哈",   "Store", "精品屋",   "_2015", "家居馆"};
constexpr const char* kLocations[] = {"浙江 杭州", "广东 深圳", "上海",      "北京",
                                      "江苏 苏州", "福建 泉州", "广东 广州", "山东 青岛"};
constexpr const char* kIcons[] = {"icon-service-remai", "icon-service-xinpin",
                                  "icon-service-baoyou", "icon-service-tianmao"};
constexpr const char* kIconTexts[] = {"掌柜热卖宝贝", "新品", "包邮", "天猫宝贝"};

uint64_t ItemIdNumber(const std::string& keyword, int page, int index) {
  const uint64_t pageSlot = static_cast<uint64_t>(((page % 100) + 100) % 100);
  return 5'000'000'000'000ULL + (Fnv1a(keyword) % 1'000'000) * 10'000'000 + pageSlot * 100'000 +
         static_cast<uint64_t>(index) % 100'000;
}

std::string Price(uint64_t r) {
  const uint64_t cents = 990 + r % 99000;
  return std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") +
         std::to_string(cents % 100);
}

// The seed of a listing's details besides title, id and nick.
uint64_t DetailSeed(const std::string& keyword, int page, int index) {
  return Mix(ListingSeed(keyword, page, index) ^ 0x5A5A5A5AULL);
}

uint64_t SalesCount(uint64_t detailSeed) { return (detailSeed >> 16) % 5000; }

bool Lacks(int index, int every) { return index % every == every - 1; }

}  // namespace

std::string ListingJson(const SampleListing& l, const std::string& keyword, int page, int index,
                        const std::string& host) {
  const uint64_t r = DetailSeed(keyword, page, index);
  const std::string userId = std::to_string(100'000'000 + r % 3'000'000'000ULL);
  const std::string picId = std::to_string(Mix(r) % 10'000'000'000ULL);
  const uint64_t icon = (r >> 20) % std::size(kIcons);
  std::string j;
  j.reserve(700 + l.title.size() * 2);
  j += R"({"i2iTags":{"samestyle":{"url":""},"similar":{"url":""}},"p4pTags":[],"nid":")";
  j += l.itemId;
  j += R"(","category":")" + std::to_string(50'000'000 + r % 9'000'000);
  const std::string title = JsonEscaped(l.title);
  j += R"(","pid":"","title":")";
  j += title;
  j += R"(","raw_title":")";
  j += title;
  j += R"(","pic_url":"//img.market.test/i4/TB1)" + picId + R"(.jpg","detail_url":"//)";
  j += host + "/item.htm?id=" + l.itemId;
  if (!l.price.empty()) j += R"(","view_price":")" + JsonEscaped(l.price);
  j += R"(","view_fee":")" + std::string((r >> 8) % 3 == 0 ? "10.00" : "0.00");
  if (!l.location.empty()) j += R"(","item_loc":")" + JsonEscaped(l.location);
  if (!l.sales.empty()) j += R"(","view_sales":")" + JsonEscaped(l.sales);
  j += R"(","comment_count":")" + std::to_string((r >> 24) % 3000);
  j += R"(","user_id":")" + userId;
  j += R"(","nick":")";
  j += JsonEscaped(l.sellerNick);
  j += R"(","shopcard":{"levelClasses":[],"isTmall":)";
  j += (r >> 28) % 4 == 0 ? "true" : "false";
  j += R"(,"delivery":[482,1,2158],"encryptedUserId":"Uv)" + picId + R"("},"icon":[{"title":")";
  j += std::string(kIconTexts[icon]) + R"(","dom_class":")" + kIcons[icon];
  j += R"(","position":"1"}],"shopLink":"//store.market.test/shop?uid=)" + userId;
  j += R"(","risk":""})";
  return j;
}

std::string AnswerHead(const SearchQuery& q) {
  return q.callback +
         R"(({"pageName":"mainsrp","mods":{"shopcombotip":{"status":"hide"},"phonenav":)"
         R"({"status":"hide"},"itemlist":{"status":"show","data":{"postFeeText":"运费",)"
         R"("trace":"msrp_auction","auctions":[)";
}

namespace {

std::string AnswerTail(const SearchQuery& q, int count) {
  const std::string kw = JsonEscaped(q.keyword);
  return R"(],"recommendAuctions":[],"isSameStyleView":false,"sellers":[],"query":")" + kw +
         R"("}},"pager":{"status":"show","data":{"pageSize":44,"totalPage":100,"currentPage":)" +
         std::to_string(q.page) + R"(,"totalCount":)" + std::to_string(count == 0 ? 0 : 4400) +
         R"(}}},"mainInfo":{"srpGlobal":{"q":")" + kw + R"(","s":")" + std::to_string(q.offset) +
         R"(","bcoffset":"1"},"traceInfo":{"traceData":{"remoteip":"127.0.0.1"}}},)"
         R"("feature":{"webpOff":false,"retinaOff":false,"shopcardOff":true}});)";
}

SampleListing GarbageListing(const std::string& keyword, int page, int index) {
  SampleListing l = ListingAt(keyword, page, index);
  if (index == kGarbageBadUtf8Index) {
    // a stray byte, a byte-order mark start, an overlong '/', a surrogate and a cut sequence
    l.title += "\xFF\xFE\xC0\xAF\xED\xA0\x80\xE6\x89";
  } else if (index == kGarbageLongTitleIndex) {
    const size_t target = kGarbageLongTitleBytes;
    l.title.reserve(target);
    while (l.title.size() + 3 <= target) l.title += "长";
    l.title.append(target - l.title.size(), 'x');
  }
  return l;
}

}  // namespace

std::string ListingsAnswer(const SearchQuery& q, int count, bool garbage) {
  std::string body = AnswerHead(q);
  body.reserve(static_cast<size_t>(count) * 700 + 1024 +
               (garbage ? static_cast<size_t>(kGarbageLongTitleBytes) * 2 : 0));
  const int zeroAfter = std::min(kGarbageZeroAfterIndex, count - 1);
  for (int i = 0; i < count; ++i) {
    if (i > 0) body += ',';
    const SampleListing l =
        garbage ? GarbageListing(q.keyword, q.page, i) : ListingAt(q.keyword, q.page, i);
    body += ListingJson(l, q.keyword, q.page, i, q.host);
    if (garbage && i == zeroAfter) body += '\0';
  }
  body += AnswerTail(q, count);
  return body;
}

std::string LoginPageHtml() {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>登录 - 亲，请登录</title>"
         "</head>\n<body><div class=\"login-box\"><h3>亲，请登录</h3>"
         "<p>为了您的账户安全，请登录后继续访问。</p>\n"
         "<form id=\"J_Form\" action=\"/member/login.jhtml\" method=\"post\">"
         "<input type=\"text\" name=\"TPL_username\" placeholder=\"手机号/会员名/邮箱\">"
         "<input type=\"password\" name=\"TPL_password\" placeholder=\"密码\">"
         "<button type=\"submit\">登 录</button></form>\n"
         "<a href=\"/member/reg.htm\">免费注册</a> <a href=\"/member/forget.htm\">忘记密码</a>"
         "</div></body></html>\n";
}

std::string ItemPageHtml(const std::string& id) {
  const std::string safe = HtmlEscaped(id);
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>宝贝详情 " + safe +
         "</title></head>\n<body><h1>宝贝 " + safe + "</h1><p>item id=" + safe +
         "</p></body></html>\n";
}

SampleListing ListingAt(const std::string& keyword, int page, int index) {
  const uint64_t r = ListingSeed(keyword, page, index);
  SampleListing l;
  l.title = std::string(Pick(kLeadWords, r)) + keyword + " " + Pick(kMiddleWords, r >> 8) +
            Pick(kTailWords, r >> 16) + " ZM-" + std::to_string(1000 + (r >> 24) % 9000);
  l.itemId = std::to_string(ItemIdNumber(keyword, page, index));
  l.sellerNick = std::string(Pick(kNickHeads, r >> 32)) + Pick(kNickTails, r >> 40);
  const uint64_t d = DetailSeed(keyword, page, index);
  if (!Lacks(index, kNoPriceEvery)) l.price = Price(d);
  if (!Lacks(index, kNoSalesEvery)) l.sales = std::to_string(SalesCount(d)) + "人付款";
  if (!Lacks(index, kNoLocationEvery)) l.location = Pick(kLocations, d >> 12);
  return l;
}

std::string SignInPageHtml(const std::string& redirectUrl) {
  return std::string(
             "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>登录</title>"
             "</head>\n<body><h3>密码登录</h3>\n<form id=\"login-form\" action=\"") +
         kLoginPath +
         "\" method=\"post\">\n"
         "<input type=\"hidden\" id=\"redirectURL\" name=\"redirectURL\" value=\"" +
         HtmlEscaped(redirectUrl) +
         "\">\n"
         "<label for=\"username\">会员名</label>"
         "<input type=\"text\" id=\"username\" name=\"username\" autocomplete=\"username\">\n"
         "<label for=\"password\">密码</label>"
         "<input type=\"password\" id=\"password\" name=\"password\" "
         "autocomplete=\"current-password\">\n"
         "<button type=\"submit\" id=\"login-submit\">登录</button>\n</form></body></html>\n";
}

std::string PunishPageHtml(const std::string& x5secData, const std::string& redirectUrl) {
  return std::string(
             "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>验证码拦截"
             "</title></head>\n<body><h3>亲，请验证后继续访问</h3>\n"
             "<form id=\"verify-form\" action=\"") +
         kPunishPath +
         "\" method=\"post\">\n"
         "<input type=\"hidden\" id=\"x5secdata\" name=\"x5secdata\" value=\"" +
         HtmlEscaped(x5secData) +
         "\">\n"
         "<input type=\"hidden\" id=\"redirectURL\" name=\"redirectURL\" value=\"" +
         HtmlEscaped(redirectUrl) +
         "\">\n"
         "<button type=\"submit\" id=\"verify-submit\">点击验证</button>\n</form></body></html>\n";
}

std::string VerificationAnswer(const std::string& url) {
  return R"({"rgv587_flag":"sm","url":")" + JsonEscaped(url) + R"("})";
}

// ---------------------------------------------------------------------------------------------
// The signed API's answers

namespace {

using Json = nlohmann::ordered_json;

std::string ApiSales(uint64_t count) {
  return count >= 100 ? std::to_string(count / 100 * 100) + "+人付款"
                      : std::to_string(count) + "人付款";
}

// The title with each occurrence of the keyword highlighted, as the service marks it.
std::string MarkedTitle(const std::string& title, const std::string& keyword) {
  if (keyword.empty()) return title;
  std::string out;
  size_t from = 0;
  for (size_t at = title.find(keyword); at != std::string::npos; at = title.find(keyword, from)) {
    out.append(title, from, at - from);
    out += "<span class=H>" + keyword + "</span>";
    from = at + keyword.size();
  }
  out.append(title, from);
  return out;
}

Json ApiItem(const SampleListing& l, const std::string& keyword, int page, int index) {
  const uint64_t d = DetailSeed(keyword, page, index);
  Json item;
  item["item_id"] = l.itemId;
  item["title"] = MarkedTitle(l.title, keyword);
  item["pic_path"] =
      "//img.market.test/i4/O1CN" + std::to_string(Mix(d) % 10'000'000'000ULL) + ".jpg";
  if (!l.price.empty()) item["price"] = l.price;
  if (!l.sales.empty()) item["realSales"] = l.sales;
  if (!l.location.empty()) item["procity"] = l.location;
  const bool noNick = Lacks(index, kApiNoNickEvery);
  if (!noNick) item["nick"] = l.sellerNick;
  // Where the nick is given, the shop's name differs from it, so that a reader that prefers
  // the shop's name is caught.
  item["shopInfo"] = {{"title", noNick ? l.sellerNick : "店铺 " + l.sellerNick},
                      {"url", "//store.market.test/shop?id=" + std::to_string(d % 100'000'000)}};
  item["isTmall"] = (d >> 28) % 4 == 0;
  item["auctionURL"] = "//item.market.test/item.htm?id=" + l.itemId;
  return item;
}

Json ApiCard(int which, const std::string& keyword, int page) {
  const SampleListing l = ListingAt(keyword, page, 1000 + which);
  switch (which) {
    case 0:  // an advertisement with a title and an id, but a card all the same
      return {{"customCardType", "p4p_banner"},
              {"title", "为你推荐 <span class=H>" + keyword + "</span>"},
              {"item_id", l.itemId},
              {"nick", l.sellerNick}};
    case 1:
      return {{"customCardType", "relatedSearch"},
              {"relatedWords", {keyword + " 新款", keyword + " 正品"}}};
    default:
      return {{"tItemType", "nt_point"}, {"nt_point", {{"tips", "看了又看"}}}};
  }
}

std::string Dump(const std::string& callback, const Json& answer) {
  return callback + "(" + answer.dump(-1, ' ', false, Json::error_handler_t::replace) + ")";
}

}  // namespace

std::vector<SampleListing> ApiListingsOf(const std::string& keyword, int page) {
  std::vector<SampleListing> listings;
  listings.reserve(kApiPageSize);
  for (int i = 0; i < kApiPageSize; ++i) {
    SampleListing l = ListingAt(keyword, page, i);
    if (!l.sales.empty()) l.sales = ApiSales(SalesCount(DetailSeed(keyword, page, i)));
    listings.push_back(std::move(l));
  }
  return listings;
}

std::string ApiPageAnswer(const std::string& callback, const std::string& keyword, int page,
                          int totalPages, bool withListings) {
  Json items = Json::array();
  if (withListings) {
    const std::vector<SampleListing> listings = ApiListingsOf(keyword, page);
    int card = 0;
    for (int i = 0; i < static_cast<int>(listings.size()); ++i) {
      if (card < static_cast<int>(std::size(kApiCardsBefore)) && kApiCardsBefore[card] == i) {
        items.push_back(ApiCard(card++, keyword, page));
      }
      items.push_back(ApiItem(listings[static_cast<size_t>(i)], keyword, page, i));
    }
  }
  Json answer;
  answer["api"] = kApiName;
  answer["data"] = {
      {"itemsArray", std::move(items)},
      {"mainInfo",
       {{"page", std::to_string(page)},
        {"pageSize", std::to_string(kApiPageSize)},
        {"totalPage", std::to_string(totalPages)},
        {"totalResults", std::to_string(withListings ? totalPages * kApiPageSize : 0)}}}};
  answer["ret"] = Json::array({kApiRetSuccess});
  answer["v"] = kApiVersion;
  return Dump(callback, answer);
}

std::string ApiRefusalAnswer(const std::string& callback, std::string_view ret,
                             const std::string& url) {
  Json answer;
  answer["api"] = kApiName;
  answer["data"] = url.empty() ? Json::object() : Json{{"url", url}};
  answer["ret"] = Json::array({std::string(ret)});
  answer["v"] = kApiVersion;
  return Dump(callback, answer);
}

// ---------------------------------------------------------------------------------------------

std::string PercentEncode(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size() * 3);
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string PercentDecode(std::string_view s) {
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace zemlaro::market
