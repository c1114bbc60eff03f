#include "search/current_request.h"

#include <nlohmann/json.hpp>

#include "search/current_constants.h"
#include "search/md5.h"
#include "text/codepage.h"

namespace zemlaro {

namespace {

// Never throws: DATA holds ASCII only, and anything else would be replaced.
std::string Dump(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string CurrentRequestData(std::string_view keywordUtf8, int page) {
  nlohmann::ordered_json params = nlohmann::ordered_json::object();
  params["page"] = page;
  params["n"] = kCurrentPageSize;
  params["pageSize"] = kCurrentPageSize;
  params["q"] = PercentEncode(keywordUtf8, /*keepSafe=*/true, /*toUtf8=*/false);
  for (const CurrentParam& param : kCurrentParams) {
    params[std::string(param.key)] = std::string(param.value);
  }
  nlohmann::ordered_json data = nlohmann::ordered_json::object();
  data["appId"] = kCurrentAppId;
  data["params"] = Dump(params);
  return Dump(data);
}

std::string CurrentSign(std::string_view token, std::int64_t t, std::string_view appKey,
                        std::string_view data) {
  const std::string input = JoinTexts({token, "&", FormatInteger(t), "&", appKey, "&", data});
  const std::string digest = detail::Md5Digest(input);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const char c : digest) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0F];
  }
  return hex;
}

Text CurrentRequestUrl(std::string_view host, std::string_view data, std::int64_t t,
                       std::string_view sign, int callbackNumber) {
  return JoinTexts({"https://",
                    host,
                    kCurrentServicePath,
                    "?jsv=",
                    kCurrentJsv,
                    "&appKey=",
                    kCurrentAppKey,
                    "&t=",
                    FormatInteger(t),
                    "&sign=",
                    sign,
                    "&api=",
                    kCurrentApi,
                    "&v=",
                    kCurrentApiVersion,
                    "&type=",
                    kCurrentAnswerType,
                    "&dataType=",
                    kCurrentAnswerType,
                    "&callback=",
                    kCurrentCallbackPrefix,
                    FormatInteger(callbackNumber),
                    "&data=",
                    PercentEncode(data, /*keepSafe=*/true, /*toUtf8=*/false)});
}

std::string TokenOfCookie(std::string_view cookieValue) {
  return std::string(cookieValue.substr(0, cookieValue.find('_')));
}

std::string TokenCookieOf(std::string_view receivedCookies) {
  const std::string name = JoinTexts({kCurrentTokenCookie, "="});
  std::string value;
  for (const Text& pair : SplitOn(receivedCookies, ";")) {
    const Text trimmed = TrimSpaces(pair);
    if (trimmed.compare(0, name.size(), name) != 0 || trimmed.size() == name.size()) continue;
    value = trimmed.substr(name.size());
  }
  return value;
}

}  // namespace zemlaro
