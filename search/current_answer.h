// The answer of the current search service: what its `ret` says, the address it
// names, its listings and page count, and the page outcome all that makes.
// Plain functions over values; any thread.
#pragma once

#include <string>
#include <vector>

#include "search/page_outcome.h"
#include "search/search_run.h"
#include "text/text.h"

namespace zemlaro {

enum class CurrentRet {
  Unreadable,      // not JSON(P), or no `ret` in it
  Success,         // SUCCESS
  TokenRefused,    // the token is missing or stale: take the fresh one and sign again
  SessionExpired,  // the sign-in expired
  CheckRequired,   // a sign-in or verification wall; `address` says which
  BadSign,         // the signature did not fit
  SlowDown,        // a flow or traffic limit
  Other,           // any other failure code
};

struct CurrentAnswer {
  CurrentRet ret = CurrentRet::Unreadable;
  std::string retText;  // ret[0] as the service wrote it, UTF-8
  std::string retCode;  // ret[0] before its first "::"
  std::string address;  // data.url, UTF-8; may be empty
  // data.itemsArray without cards and untitled entries; GBK, highlight markup removed.
  std::vector<Listing> listings;
  int totalPages = 0;  // data.mainInfo.totalPage, 0 when absent or unreadable
};

// Reads "callback(<JSON>)" or bare JSON. Never throws; anything unexpected in a
// field leaves that field empty.
CurrentAnswer ParseCurrentAnswer(const Bytes& body);

// The title of an item without its highlight markup (every "<span…>" and "</span>",
// any letter case) and trimmed. GBK in, GBK out.
Text WithoutHighlight(const Text& titleGbk);

// True for a login page: the login host, or a login path on any host.
bool IsCurrentLoginAddress(std::string_view address);

// Success: Listings when any came, else NoListings. Session expired: SignInRequired.
// A check: SignInRequired when `address` is a login page, else VerificationRequired.
// Bad sign, a token refusal (after the retry), other codes and an unreadable answer:
// RequestFailed. Flow limits: SlowDown with the code as reason.
PageOutcome ClassifyCurrentAnswer(const CurrentAnswer& answer);

}  // namespace zemlaro
