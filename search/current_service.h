// One result page of the current search service: the signed request, the token
// handshake, and what the answer gave.
//
// Thread rules: any thread; no state of its own. The context's clock, store reader
// and callback counter are the caller's, and used only during the call.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "search/page_outcome.h"
#include "search/search_run.h"
#include "text/text.h"
#include "web/session.h"

namespace zemlaro {

struct CurrentPage {
  PageOutcome outcome;            // Listings when rows came, else why not
  std::vector<Listing> listings;  // GBK, markup removed, cards skipped, with the details
  int totalPages = 0;             // data.mainInfo.totalPage, 0 when unknown
};

struct CurrentRequestContext {
  std::string host;                                         // host[:port]; kCurrentServiceHost
  std::function<std::int64_t()> nowMs;                      // milliseconds since the epoch
  std::function<std::optional<std::string>()> storedToken;  // the token cookie's value, if any
  int* callbackCounter = nullptr;  // N of mtopjsonpN, incremented per request; null: always 1
};

// One page (1-based). Signs with the stored token, or none. When the service refuses
// the token, takes the fresh one from the answer's cookies (else from storedToken()
// again), signs again and retries once; a second refusal is a failed request. The
// session's own cookie store stays in use. An empty answer is a failed request with
// the session's LastError() as reason.
CurrentPage FetchCurrentPage(InternetSession& session, const CurrentRequestContext& context,
                             const Text& keywordGbk, int page);

}  // namespace zemlaro
