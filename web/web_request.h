// One HTTP or HTTPS request with the system's default agent and header lines.
#pragma once

#include <optional>

#include "text/text.h"
#include "web/session.h"

namespace zemlaro {

inline constexpr char kDefaultAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// The optional arguments. Pointers are the out and in/out arguments; null means
// "left out". They are written only once the request handle is open.
struct WebRequestArgs {
  int method = 0;  // 0 GET, 1 POST, 2 HEAD; any other value counts as 0
  Text dataText;
  // Passing cookies at all, even empty, switches off the session's own cookie store.
  std::optional<Text> cookies;
  Text* receivedCookies = nullptr;
  Text* headers = nullptr;  // in: extra request headers; out: the whole block sent
  Text* responseHeaders = nullptr;
  // Out: the address the request ended at after redirects; empty when it failed.
  Text* finalAddress = nullptr;
  bool noRedirect = false;
  Bytes* dataBytes = nullptr;  // in/out
  Text proxy;
};

// The body of the answer; empty when the request could not be opened or failed.
Bytes WebRequest(InternetSession& session, std::string_view url, const WebRequestArgs& args = {});

}  // namespace zemlaro
