// The request of the current search service: its DATA, its signature and its
// address, and the token taken from the service's cookie.
// Plain functions over values; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/text.h"

namespace zemlaro {

// DATA: {"appId":"<kCurrentAppId>","params":"<PARAMS as a JSON string>"}, PARAMS as
// kCurrentParams describes, ASCII only (the keyword goes in percent-encoded).
std::string CurrentRequestData(std::string_view keywordUtf8, int page);

// Lower-case hex MD5 of token + "&" + t + "&" + appKey + "&" + data; data as sent,
// before percent-encoding. Empty only when the digest cannot be computed.
std::string CurrentSign(std::string_view token, std::int64_t t, std::string_view appKey,
                        std::string_view data);

// "https://" + host + kCurrentServicePath + "?" + the query keys, `data`
// percent-encoded last. `host` may carry a ":port".
Text CurrentRequestUrl(std::string_view host, std::string_view data, std::int64_t t,
                       std::string_view sign, int callbackNumber);

// The signing token of a token cookie's value "<32 hex>_<expiry ms>": the part before
// its first "_" (the whole value when it has none).
std::string TokenOfCookie(std::string_view cookieValue);

// The value of the token cookie among "name=value; name=value" pairs (WebRequest's
// received cookies); the last non-empty one when several came, empty when none did.
std::string TokenCookieOf(std::string_view receivedCookies);

}  // namespace zemlaro
