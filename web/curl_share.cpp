#include "web/curl_share.h"

#include <array>
#include <mutex>

#include "web/curl_handles.h"
#include "web/curl_session.h"

namespace zemlaro {

namespace {

struct SharedStore {
  ShareHandle share;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<SharedStore*>(user)->locks[data].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<SharedStore*>(user)->locks[data].unlock();
  }
};

// Never destroyed: a worker thread may still be inside a transfer when the program ends.
// Reached from the cookie store as well as from transfers, so it sets libcurl up itself.
SharedStore* MakeSharedStore(bool withCookies) {
  PrepareCurl();
  auto* shared = new SharedStore;
  shared->share.reset(curl_share_init());
  if (CURLSH* share = shared->share.get()) {
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &SharedStore::Lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &SharedStore::Unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, shared);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    if (withCookies) curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  }
  return shared;
}

}  // namespace

CURLSH* CookieShare() {
  static SharedStore* const store = MakeSharedStore(true);
  return store->share.get();
}

CURLSH* TlsSessionShare() {
  static SharedStore* const store = MakeSharedStore(false);
  return store->share.get();
}

}  // namespace zemlaro
