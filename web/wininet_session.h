// The WinINet implementation of InternetSession, used by the programs on Windows.
//
// The handles are WinINet's own, opened with the arguments and flags WebRequest
// gives, with three flags always added to a request: INTERNET_FLAG_NO_COOKIES (the
// cookie store is ours, in web/cookie_store_windows.cpp, so nothing lands in the
// user's WinINet cookie cache), INTERNET_FLAG_NO_AUTO_REDIRECT (the session follows
// redirects itself, so that a Set-Cookie on a redirect reaches the store and each
// hop carries the cookies of its own address) and INTERNET_FLAG_NO_UI. Certificates
// are checked by the system, always: no SECURITY_FLAG_IGNORE_* is ever set.
//
// Thread rules: a session may be used from several threads at once, each with its
// own handles. Each sent request has a watchdog thread that closes its WinINet
// handle when the total limit passes or the cancel flag is set, which is how WinINet
// ends a call that blocks.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "web/session.h"

namespace zemlaro {

struct WinInetSettings {
  // A connection that is not up by then fails (INTERNET_OPTION_CONNECT_TIMEOUT).
  std::chrono::milliseconds connectTimeout{30000};
  // A send or a read that moves no byte for this long fails
  // (INTERNET_OPTION_SEND_TIMEOUT and INTERNET_OPTION_RECEIVE_TIMEOUT).
  std::chrono::milliseconds stallTimeout{30000};
  // A request not done by then fails, however steadily bytes trickle in; 0 or less for none.
  std::chrono::milliseconds totalTimeout{120000};
  // A body that grows past this stops the read and fails the request.
  std::size_t maxBodyBytes = 16u << 20;
  // When set and true, a request under way stops at once and fails.
  const std::atomic<bool>* cancel = nullptr;
};

std::unique_ptr<InternetSession> MakeWinInetSession(const WinInetSettings& settings = {});

}  // namespace zemlaro
