#include "search/current_answer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

#include "search/current_constants.h"
#include "text/codepage.h"

namespace zemlaro {

namespace {

using Json = nlohmann::json;

// The member `key` of an object, or null when `value` is no object or lacks it.
const Json* Member(const Json* value, const char* key) {
  if (value == nullptr || !value->is_object()) return nullptr;
  const auto it = value->find(key);
  return it == value->end() ? nullptr : &*it;
}

const std::string* StringOf(const Json* value) {
  return value != nullptr && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

// A string or number as GBK text; empty for anything else.
Text ScalarText(const Json* value) {
  if (value == nullptr) return {};
  if (const std::string* s = StringOf(value)) return Utf8ToGbk(*s);
  if (value->is_number_integer()) return FormatInteger(value->get<std::int64_t>());
  if (value->is_number()) return value->dump();
  return {};
}

int PageCountOf(const Json* value) {
  if (value == nullptr) return 0;
  double count = 0;
  if (const std::string* s = StringOf(value)) {
    count = ParseReal(*s);
  } else if (value->is_number()) {
    count = value->get<double>();
  }
  return count >= INT_MAX ? INT_MAX : count > 0 ? static_cast<int>(count) : 0;
}

template <std::size_t N>
bool OneOf(std::string_view code, const std::string_view (&codes)[N]) {
  return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

CurrentRet RetOf(std::string_view code) {
  if (code == kCurrentRetSuccess) return CurrentRet::Success;
  if (OneOf(code, kCurrentRetTokenRefused)) return CurrentRet::TokenRefused;
  if (code == kCurrentRetSessionExpired) return CurrentRet::SessionExpired;
  if (OneOf(code, kCurrentRetCheck)) return CurrentRet::CheckRequired;
  if (code == kCurrentRetBadSign) return CurrentRet::BadSign;
  if (OneOf(code, kCurrentRetSlowDown)) return CurrentRet::SlowDown;
  return CurrentRet::Other;
}

// A listing of an itemsArray entry; false for cards and untitled entries.
bool ListingOf(const Json& item, Listing& listing) {
  const std::string* title = StringOf(Member(&item, "title"));
  if (title == nullptr || Member(&item, "customCardType") != nullptr) return false;
  listing.title = WithoutHighlight(Utf8ToGbk(*title));
  if (listing.title.empty()) return false;
  listing.itemId = ScalarText(Member(&item, "item_id"));
  listing.sellerNick = ScalarText(Member(&item, "nick"));
  if (listing.sellerNick.empty()) {
    listing.sellerNick = ScalarText(Member(Member(&item, "shopInfo"), "title"));
  }
  listing.price = ScalarText(Member(&item, "price"));
  listing.sales = ScalarText(Member(&item, "realSales"));
  listing.location = ScalarText(Member(&item, "procity"));
  return true;
}

// The JSON inside "callback(…)", or the whole body when it is bare JSON.
std::string_view JsonPart(const Bytes& body) {
  const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  if (text[first] == '{') return text.substr(first);
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return {};
  return text.substr(open + 1, close - open - 1);
}

}  // namespace

Text WithoutHighlight(const Text& titleGbk) {
  Text title = Substitute(titleGbk, "</span>", {}, std::nullopt, std::nullopt, false);
  for (;;) {
    const int open = FindForward(title, "<span", std::nullopt, true);
    if (open == -1) break;
    const int close = FindForward(title, ">", open);
    if (close == -1) break;
    title = LeftPart(title, open - 1) + RightPart(title, LengthOf(title) - close);
  }
  return TrimSpaces(title);
}

CurrentAnswer ParseCurrentAnswer(const Bytes& body) {
  CurrentAnswer answer;
  const std::string_view part = JsonPart(body);
  if (part.empty()) return answer;
  const Json json = Json::parse(part.begin(), part.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return answer;

  const Json* ret = Member(&json, "ret");
  if (ret == nullptr || !ret->is_array() || ret->empty()) return answer;
  const std::string* retText = StringOf(&(*ret)[0]);
  if (retText == nullptr) return answer;
  answer.retText = *retText;
  answer.retCode = retText->substr(0, retText->find("::"));
  answer.ret = RetOf(answer.retCode);

  const Json* data = Member(&json, "data");
  if (const std::string* url = StringOf(Member(data, "url"))) answer.address = *url;
  answer.totalPages = PageCountOf(Member(Member(data, "mainInfo"), "totalPage"));
  if (const Json* items = Member(data, "itemsArray"); items != nullptr && items->is_array()) {
    for (const Json& item : *items) {
      Listing listing;
      if (ListingOf(item, listing)) answer.listings.push_back(std::move(listing));
    }
  }
  return answer;
}

bool IsCurrentLoginAddress(std::string_view address) {
  const Text lower = LowerAscii(address);
  const std::string_view text = lower;
  std::size_t hostAt = 0;
  if (const std::size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    hostAt = scheme + 3;
  } else if (text.substr(0, 2) == "//") {
    hostAt = 2;
  }
  const std::string_view rest = text.substr(hostAt);
  if (rest.substr(0, rest.find_first_of("/?#:")) == kCurrentLoginHost) return true;
  const std::string_view path = rest.substr(0, rest.find_first_of("?#"));
  return std::any_of(std::begin(kCurrentLoginPaths), std::end(kCurrentLoginPaths),
                     [&](std::string_view login) { return path.find(login) != path.npos; });
}

PageOutcome ClassifyCurrentAnswer(const CurrentAnswer& answer) {
  PageOutcome outcome;
  switch (answer.ret) {
    case CurrentRet::Unreadable:
      outcome.kind = PageOutcomeKind::RequestFailed;
      outcome.reason = "unreadable answer";
      break;
    case CurrentRet::Success:
      outcome.kind =
          answer.listings.empty() ? PageOutcomeKind::NoListings : PageOutcomeKind::Listings;
      break;
    case CurrentRet::TokenRefused:
      outcome.kind = PageOutcomeKind::RequestFailed;
      outcome.reason = "token refused again: " + answer.retCode;
      break;
    case CurrentRet::SessionExpired:
      outcome.kind = PageOutcomeKind::SignInRequired;
      outcome.reason = answer.retCode;
      outcome.address = answer.address;
      break;
    case CurrentRet::CheckRequired:
      outcome.kind = IsCurrentLoginAddress(answer.address) ? PageOutcomeKind::SignInRequired
                                                           : PageOutcomeKind::VerificationRequired;
      outcome.reason = answer.retCode;
      outcome.address = answer.address;
      break;
    case CurrentRet::BadSign:
      outcome.kind = PageOutcomeKind::RequestFailed;
      outcome.reason = "bad sign: " + answer.retCode;
      break;
    case CurrentRet::SlowDown:
      outcome.kind = PageOutcomeKind::SlowDown;
      outcome.reason = answer.retCode;
      break;
    case CurrentRet::Other:
      outcome.kind = PageOutcomeKind::RequestFailed;
      outcome.reason = answer.retText;
      break;
  }
  return outcome;
}

}  // namespace zemlaro
