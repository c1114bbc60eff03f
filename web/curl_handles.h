// One owner per libcurl handle, for the web layer's own sources (not part of its
// interface). Each owner may move between threads but is used by one at a time.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace zemlaro {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct ShareDeleter {
  void operator()(CURLSH* handle) const { curl_share_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using ShareHandle = std::unique_ptr<CURLSH, ShareDeleter>;
using StringList = std::unique_ptr<curl_slist, SlistDeleter>;

}  // namespace zemlaro
