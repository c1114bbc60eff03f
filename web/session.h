// The internet-session interface that WebRequest runs over. Its calls follow the
// steps of one synchronous HTTP request: open, connect, open a request, send,
// read in chunks, query the raw response headers, close. The program uses the
// libcurl session (curl_session.h); tests use two fakes: RecordingSession
// (tests/web/recording_session.h), which records each call, and CannedSession
// (tests/search/fakes.h), which answers every request from a table.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

namespace zemlaro {

// An opaque handle; 0 is the null handle.
using SessionHandle = std::uintptr_t;

inline constexpr int kAccessDirect = 1;  // INTERNET_OPEN_TYPE_DIRECT
inline constexpr int kAccessProxy = 3;   // INTERNET_OPEN_TYPE_PROXY

inline constexpr std::uint32_t kFlagReload = 0x80000000;          // INTERNET_FLAG_RELOAD
inline constexpr std::uint32_t kFlagSecure = 0x00800000;          // INTERNET_FLAG_SECURE
inline constexpr std::uint32_t kFlagNoAutoRedirect = 0x00200000;  // INTERNET_FLAG_NO_AUTO_REDIRECT
inline constexpr std::uint32_t kFlagNoCookies = 0x00080000;       // INTERNET_FLAG_NO_COOKIES
inline constexpr std::uint32_t kFlagIgnoreRedirectToHttps = 0x00004000;
inline constexpr std::uint32_t kFlagNeedFile = 0x00000010;  // INTERNET_FLAG_NEED_FILE

inline constexpr int kReadChunk = 1024;
inline constexpr int kRawHeaderBuffer = 5000;

class InternetSession {
 public:
  virtual ~InternetSession() = default;

  // Proxy name and bypass list are absent for a direct connection.
  virtual SessionHandle Open(const Text& agent, int accessType,
                             const std::optional<Text>& proxyName,
                             const std::optional<Text>& proxyBypass) = 0;
  virtual SessionHandle Connect(SessionHandle internet, const Text& host, int port) = 0;
  virtual SessionHandle OpenRequest(SessionHandle connection, const Text& verb, const Text& path,
                                    const Text& version, std::uint32_t flags) = 0;
  // `data` is null when no optional data is sent.
  virtual bool Send(SessionHandle request, const Text& headers, const Bytes* data) = 0;
  // Reads at most `size` bytes into `buffer`; `read` is 0 at the end or on failure.
  virtual bool Read(SessionHandle request, std::uint8_t* buffer, int size, int& read) = 0;
  // Writes the raw header block and a terminating zero byte into `buffer`. When it
  // does not fit in `length` bytes, nothing is written, `length` is set to the size
  // needed and the result is false. On success `length` is the block's length.
  virtual bool QueryRawHeaders(SessionHandle request, char* buffer, int& length) = 0;
  virtual void Close(SessionHandle handle) = 0;
  // The address the sent request ended at, after the redirects it followed
  // (InternetQueryOption with INTERNET_OPTION_URL); empty when the request failed or
  // the session cannot tell.
  virtual Text QueryFinalUrl(SessionHandle /*request*/) { return {}; }
  // How many body bytes the reads of a sent request can still give
  // (InternetQueryDataAvailable); 0 when the session cannot tell.
  virtual std::size_t QueryDataAvailable(SessionHandle /*request*/) { return 0; }

  // The body size past which a read fails (the request then counts as failed).
  virtual std::size_t MaxBodyBytes() const = 0;
  // Why the last request of this session failed, in a few words; empty when it did not.
  virtual Text LastError() const = 0;
};

}  // namespace zemlaro
