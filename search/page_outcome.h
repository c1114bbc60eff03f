// Why a page gave what it gave: listings, none, a failed request, or a wall the
// service put up (sign-in, verification, a flow limit). Shared by both programs.
// Plain functions over values; any thread.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace zemlaro {

enum class PageOutcomeKind {
  Listings,              // the page added rows
  NoListings,            // a well-formed answer without listings
  RequestFailed,         // no answer: `reason` says why (the session's words)
  SignInRequired,        // the service wants a signed-in session; `address` is its login page
  VerificationRequired,  // the service wants a check (captcha, slider); `address` is that page
  SlowDown,              // the service limits the flow of requests; `reason` is its code
};

struct PageOutcome {
  PageOutcomeKind kind = PageOutcomeKind::NoListings;
  std::string reason;   // ASCII or UTF-8; never a cookie value
  std::string address;  // the address the service asked the user to open; may be empty
};

// True for the outcomes after which the current service's run stops rather than
// asking again: sign-in, verification, flow limit.
bool StopsTheRun(PageOutcomeKind kind);

// True when the outcome is one the user should be told about (anything but listings
// and an empty answer).
bool WorthTelling(PageOutcomeKind kind);

// A login address of the live service or of the sample market:
// login.taobao.com/member/login.jhtml…, login.taobao.com/havanaone/login/login.htm…,
// or any host's /member/login.jhtml.
bool IsSignInAddress(std::string_view address);
// A verification address: one holding "punish", "_____tmd_____", "x5secdata",
// "sec.taobao.com/query.htm", "deny_h5" or "action=captcha".
bool IsVerificationAddress(std::string_view address);

// The outcome of a page of the search page contract. `finalAddress` is where the
// request ended after redirects (empty when unknown); `requestError` the session's
// LastError(); `answer` the body.
PageOutcome ClassifyLegacyPage(int rowsAdded, const Bytes& answer, std::string_view requestError,
                               std::string_view finalAddress);

}  // namespace zemlaro
