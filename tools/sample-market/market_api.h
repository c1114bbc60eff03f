// The request side of the sample market's signed API: the sign it expects and what it reads
// from the `data` query key. Plain functions over values; any thread.
#pragma once

#include <string>
#include <string_view>

namespace zemlaro::market {

// Lower-case hex MD5 of token + "&" + t + "&" + appKey + "&" + data, `data` as the client
// sent it before percent-encoding. Empty only when the digest cannot be computed.
std::string ApiSign(std::string_view token, std::string_view t, std::string_view appKey,
                    std::string_view data);

// The signing token of a token cookie's value "<32 hex>_<expiry ms>": the part before its
// first "_" (the whole value when it has none).
std::string_view ApiTokenOf(std::string_view cookieValue);

// What DATA, {"appId":"...","params":"<PARAMS as a JSON string>"}, asks for.
struct ApiData {
  bool ok = false;      // DATA and PARAMS parse and PARAMS holds every kApiRequiredParams key
  std::string keyword;  // "q", percent-decoded: UTF-8 as the client encoded it
  int page = 0;         // "page", 1-based; a number or a string of digits
};
ApiData ReadApiData(std::string_view data);

}  // namespace zemlaro::market
