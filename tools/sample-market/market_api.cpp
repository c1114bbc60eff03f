#include "tools/sample-market/market_api.h"

#include <openssl/evp.h>

#include <nlohmann/json.hpp>

#include "tools/sample-market/market_constants.h"
#include "tools/sample-market/market_content.h"

namespace zemlaro::market {

std::string ApiSign(std::string_view token, std::string_view t, std::string_view appKey,
                    std::string_view data) {
  std::string text;
  text.reserve(token.size() + t.size() + appKey.size() + data.size() + 3);
  text.append(token).append("&").append(t).append("&").append(appKey).append("&").append(data);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::string_view ApiTokenOf(std::string_view cookieValue) {
  return cookieValue.substr(0, cookieValue.find('_'));
}

ApiData ReadApiData(std::string_view data) {
  using Json = nlohmann::json;
  ApiData out;
  const Json outer = Json::parse(data, nullptr, false);
  if (outer.is_discarded() || !outer.is_object()) return out;
  const auto params = outer.find("params");
  if (params == outer.end() || !params->is_string()) return out;
  const Json inner = Json::parse(params->get<std::string>(), nullptr, false);
  if (inner.is_discarded() || !inner.is_object()) return out;
  for (std::string_view key : kApiRequiredParams) {
    if (!inner.contains(key)) return out;
  }
  const Json& page = inner["page"];
  long long number = 0;
  if (page.is_number_integer()) {
    number = page.get<long long>();
  } else if (page.is_string()) {
    const std::string text = page.get<std::string>();
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      return out;
    }
    number = std::stoll(text);
  } else {
    return out;
  }
  const Json& q = inner["q"];
  if (number < 1 || number > 1'000'000 || !q.is_string()) return out;
  out.page = static_cast<int>(number);
  out.keyword = PercentDecode(q.get<std::string>());
  out.ok = true;
  return out;
}

}  // namespace zemlaro::market
