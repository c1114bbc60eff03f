#include "web/wininet_session.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <variant>

#include "web/cookie_jar.h"
#include "web/large_buffer.h"
#include "web/session_text.h"

namespace zemlaro {

namespace {

using Clock = std::chrono::steady_clock;

// At most this many redirects, as the libcurl session follows.
constexpr int kMaxRedirects = 10;
// How often the watchdog looks at the cancel flag.
constexpr std::chrono::milliseconds kCancelPollSlice{50};
// The most asked of one InternetReadFile while the body is read in.
constexpr DWORD kBodyChunk = 64 * 1024;
// The first room for a header query; grown to what WinINet asks for.
constexpr DWORD kHeaderRoom = 8 * 1024;
// A Set-Cookie query loop ends by then whatever WinINet keeps giving.
constexpr DWORD kMaxSetCookieLines = 1000;

struct InternetCloser {
  void operator()(void* handle) const { InternetCloseHandle(handle); }
};
// The owner of one WinINet handle.
using InternetHandle = std::unique_ptr<void, InternetCloser>;

bool IsHostName(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), IsHostByte);
}

// The request target as sent; spaces and control bytes, which would break the
// request line, go percent-encoded.
Text RequestTarget(std::string_view path) {
  Text target = path.empty() || path[0] != '/' ? "/" : "";
  for (unsigned char c : path) {
    if (c <= 0x20 || c == 0x7F) {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      target += escape;
    } else {
      target += static_cast<char>(c);
    }
  }
  return target;
}

// A few words on a WinINet failure; never anything the answer or a cookie held.
Text ErrorText(DWORD code, const WinInetSettings& settings) {
  switch (code) {
    case ERROR_INTERNET_TIMEOUT:
      return "timed out: not connected within " + Seconds(settings.connectTimeout) +
             " or no byte for " + Seconds(settings.stallTimeout);
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return "host name not resolved";
    case ERROR_INTERNET_CANNOT_CONNECT:
      return "could not connect";
    case ERROR_INTERNET_CONNECTION_ABORTED:
      return "connection aborted";
    case ERROR_INTERNET_CONNECTION_RESET:
      return "connection reset";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return "not an HTTP answer";
    case ERROR_INTERNET_INVALID_URL:
      return "bad address";
    case ERROR_INTERNET_OPERATION_CANCELLED:
      return "cancelled";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return "certificate not trusted: expired or not yet valid";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return "certificate not trusted: made out to another name";
    case ERROR_INTERNET_INVALID_CA:
      return "certificate not trusted: unknown issuer";
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
      return "certificate not trusted";
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      return "certificate not trusted: revoked";
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
      return "certificate not trusted: revocation could not be checked";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return "TLS failed";
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
      return "the server asks for a client certificate";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "out of memory";
    default:
      return "WinINet error " + FormatInteger(static_cast<std::int64_t>(code));
  }
}

// ---- addresses of redirect hops ----

struct Address {
  bool secure = false;
  Text host;
  int port = 0;
  Text target;  // path and query, as sent
};

int DefaultPort(bool secure) {
  return secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
}

Text UrlOf(const Address& address) {
  Text url = address.secure ? "https://" : "http://";
  url.append(address.host);
  if (address.port != DefaultPort(address.secure)) {
    url.push_back(':');
    url.append(FormatInteger(address.port));
  }
  url.append(address.target);
  return url;
}

// Where a Location value leads from `from`; none when it is no http(s) address.
std::optional<Address> Resolve(const Address& from, std::string_view location) {
  const Text trimmed = TrimSpaces(location);
  std::string_view rest = trimmed;
  rest = rest.substr(0, rest.find('#'));
  if (rest.empty()) return std::nullopt;
  Address to = from;
  const std::size_t marker = rest.find("://");
  const std::size_t firstSlash = rest.find_first_of("/?");
  if (marker != std::string_view::npos && marker < firstSlash) {
    const Text scheme = LowerAscii(rest.substr(0, marker));
    if (scheme != "http" && scheme != "https") return std::nullopt;
    to.secure = scheme == "https";
    rest.remove_prefix(marker + 1);  // leaves "//host…"
  }
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const std::size_t end = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (authority.find('@') != std::string_view::npos) return std::nullopt;
    const std::size_t colon = authority.find(':');
    to.host = LowerAscii(authority.substr(0, colon));
    to.port = DefaultPort(to.secure);
    if (colon != std::string_view::npos) {
      const std::string_view digits = authority.substr(colon + 1);
      if (digits.empty() || digits.size() > 5 ||
          !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
      }
      to.port = ParseInteger(digits);
      if (to.port < 1 || to.port > 65535) return std::nullopt;
    }
    if (!IsHostName(to.host)) return std::nullopt;
    to.target = RequestTarget(rest.empty() ? "/" : rest);
    return to;
  }
  if (rest.front() == '/') {
    to.target = RequestTarget(rest);
  } else {
    const std::string_view path = std::string_view(from.target).substr(0, from.target.find('?'));
    if (rest.front() == '?') {
      to.target = RequestTarget(JoinTexts({path, rest}));
    } else {
      to.target = RequestTarget(JoinTexts({path.substr(0, path.rfind('/') + 1), rest}));
    }
  }
  return to;
}

// Whether a redirect may go from a request opened with `flags` to the address: the
// libcurl session's rule (never from a secure address to a plain one).
bool RedirectAllowed(std::uint32_t flags, const Address& to) {
  if ((flags & kFlagSecure) != 0) return to.secure;
  if ((flags & kFlagIgnoreRedirectToHttps) != 0) return true;
  return !to.secure;
}

// The caller's header lines, less the ones that belong to the first host alone.
Text HeadersForAnotherHost(const Text& headers) {
  Text kept;
  for (const Text& line : SplitOn(headers, "\r\n")) {
    const Text name = LowerAscii(TrimSpaces(line.substr(0, line.find(':'))));
    if (line.empty() || name == "cookie" || name == "authorization") continue;
    if (!kept.empty()) kept += "\r\n";
    kept += line;
  }
  return kept;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// ---- header queries ----

// One header query's text; none when the answer has no such header.
std::optional<Text> QueryText(HINTERNET request, DWORD what, DWORD* index) {
  Text buffer(kHeaderRoom, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const DWORD before = index ? *index : 0;
    if (HttpQueryInfoA(request, what, buffer.data(), &length, index)) {
      buffer.resize(std::min<std::size_t>(length, buffer.size()));
      return buffer;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    if (index) *index = before;
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
  }
  return std::nullopt;
}

DWORD StatusOf(HINTERNET request) {
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                      nullptr)) {
    return 0;
  }
  return status;
}

// ---- the watchdog ----

// A call is never given less time than this, even when the total limit is closer.
constexpr std::chrono::milliseconds kLeastCallLimit{100};

void LimitStall(HINTERNET handle, std::chrono::milliseconds time) {
  if (time.count() <= 0) return;
  DWORD ms = static_cast<DWORD>(std::min<std::int64_t>(time.count(), 0x7FFFFFFF));
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
}

// Ends the WinINet calls of one request when the total limit passes or the cancel
// flag is set: a call under way by closing its handle, a later one by refusing it.
// The handle is closed only while a call is on it, so that the closed handle's
// number, which WinINet may give out again, is never used afterwards.
class Watchdog {
 public:
  Watchdog(InternetHandle& handle, const WinInetSettings& settings)
      : handle_(handle), settings_(settings) {
    const bool timed = settings.totalTimeout.count() > 0;
    if (!timed && !settings.cancel) return;
    deadline_ = timed ? Clock::now() + settings.totalTimeout : Clock::time_point::max();
    thread_ = std::thread([this] { Watch(); });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Runs `call` on the request's handle; false (and no call) once the watchdog fired.
  template <class Call>
  bool Run(Call call) {
    HINTERNET handle = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!reason_.empty() || !handle_) return false;
      inCall_ = true;
      handle = handle_.get();
    }
    // A blocked call is not always ended by closing its handle (Wine's is not): the
    // send and receive limits of the call are cut to the time left as well.
    if (deadline_ != Clock::time_point::max()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
      const std::chrono::milliseconds callLimit = std::max(left, kLeastCallLimit);
      LimitStall(handle, settings_.stallTimeout.count() > 0
                             ? std::min(settings_.stallTimeout, callLimit)
                             : callLimit);
    }
    const Clock::time_point start = Clock::now();
    const bool ok = call(handle);
    const DWORD error = GetLastError();
    std::lock_guard lock(mutex_);
    inCall_ = false;
    stalled_ = !ok && settings_.stallTimeout.count() > 0 &&
               Clock::now() - start >= settings_.stallTimeout &&
               (error == ERROR_INTERNET_TIMEOUT || error == ERROR_INTERNET_CONNECTION_ABORTED);
    SetLastError(error);
    return ok && reason_.empty();
  }

  // Whether the last call that failed waited a whole stall limit first: WinINet
  // tells a receive time-out as a time-out or as an aborted connection.
  bool Stalled() const {
    std::lock_guard lock(mutex_);
    return stalled_;
  }

  // Why the watchdog fired; empty when it did not.
  Text Reason() const {
    std::lock_guard lock(mutex_);
    return reason_;
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (settings_.cancel && settings_.cancel->load()) {
        Fire("cancelled");
        return;
      }
      const Clock::time_point now = Clock::now();
      if (now >= deadline_) {
        Fire("timed out: not done within " + Seconds(settings_.totalTimeout));
        return;
      }
      const Clock::time_point wake =
          settings_.cancel ? std::min(deadline_, now + kCancelPollSlice) : deadline_;
      wake_.wait_until(lock, wake);
    }
  }

  void Fire(Text reason) {
    reason_ = std::move(reason);
    if (inCall_ && handle_) handle_.reset();
  }

  InternetHandle& handle_;
  const WinInetSettings& settings_;
  Clock::time_point deadline_ = Clock::time_point::max();
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool inCall_ = false;
  bool stalled_ = false;
  Text reason_;
  std::thread thread_;
};

// ---- handles ----

struct InternetState {
  InternetHandle handle;
};

struct ConnectionState {
  std::shared_ptr<InternetState> internet;  // kept open while the connection is
  InternetHandle handle;
  Text host;
  int port = 0;
};

struct RequestState {
  std::shared_ptr<ConnectionState> connection;
  // The connection of the last redirect hop, when it went to another host or port.
  InternetHandle hopConnection;
  InternetHandle handle;
  Text verb;
  Text version;
  std::uint32_t flags = 0;
  Address address;
  bool sent = false;
  bool succeeded = false;
  Bytes body;
  std::size_t readAt = 0;
  Text rawHeaders;
  Text finalUrl;
};

using State = std::variant<std::shared_ptr<InternetState>, std::shared_ptr<ConnectionState>,
                           std::shared_ptr<RequestState>>;

void SetTimeouts(HINTERNET handle, const WinInetSettings& settings) {
  const auto set = [handle](DWORD option, std::chrono::milliseconds time) {
    if (time.count() <= 0) return;
    DWORD ms = static_cast<DWORD>(std::min<std::int64_t>(time.count(), 0x7FFFFFFF));
    InternetSetOptionA(handle, option, &ms, sizeof ms);
  };
  set(INTERNET_OPTION_CONNECT_TIMEOUT, settings.connectTimeout);
  set(INTERNET_OPTION_SEND_TIMEOUT, settings.stallTimeout);
  set(INTERNET_OPTION_RECEIVE_TIMEOUT, settings.stallTimeout);
}

// The flags a request is opened with: the caller's, and ours.
DWORD RequestFlags(std::uint32_t callerFlags, bool secure) {
  DWORD flags =
      callerFlags | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;
  // A hop keeps the caller's flags but takes the secure flag of its own address.
  if (secure) {
    flags |= INTERNET_FLAG_SECURE;
  } else {
    flags &= ~static_cast<DWORD>(INTERNET_FLAG_SECURE);
  }
  return flags;
}

class WinInetSession final : public InternetSession {
 public:
  explicit WinInetSession(const WinInetSettings& settings) : settings_(settings) {}

  SessionHandle Open(const Text& agent, int accessType, const std::optional<Text>& proxyName,
                     const std::optional<Text>& proxyBypass) override {
    // The agent goes on one line whatever the caller's header text held.
    const Text oneLine = agent.substr(0, agent.find_first_of("\r\n"));
    const DWORD access =
        accessType == kAccessProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT;
    InternetHandle handle(InternetOpenA(oneLine.c_str(), access,
                                        proxyName ? proxyName->c_str() : nullptr,
                                        proxyBypass ? proxyBypass->c_str() : nullptr, 0));
    if (!handle) {
      SetError(ErrorText(GetLastError(), settings_));
      return 0;
    }
    SetTimeouts(handle.get(), settings_);
    auto state = std::make_shared<InternetState>();
    state->handle = std::move(handle);
    return Add(std::move(state));
  }

  SessionHandle Connect(SessionHandle internet, const Text& host, int port) override {
    const auto parent = Find<InternetState>(internet);
    if (!parent) return 0;
    if (!IsHostName(host)) {
      SetError("bad host name");
      return 0;
    }
    if (port < 0 || port > 65535) {
      SetError("bad port");
      return 0;
    }
    InternetHandle handle(InternetConnectA(parent->handle.get(), host.c_str(),
                                           static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0));
    if (!handle) {
      SetError(ErrorText(GetLastError(), settings_));
      return 0;
    }
    auto state = std::make_shared<ConnectionState>();
    state->internet = parent;
    state->handle = std::move(handle);
    state->host = LowerAscii(host);
    state->port = port;
    return Add(std::move(state));
  }

  SessionHandle OpenRequest(SessionHandle connection, const Text& verb, const Text& path,
                            const Text& version, std::uint32_t flags) override {
    const auto parent = Find<ConnectionState>(connection);
    if (!parent || verb.empty()) return 0;
    auto state = std::make_shared<RequestState>();
    state->connection = parent;
    state->verb = verb;
    state->version = version;
    state->flags = flags;
    state->address.secure = (flags & kFlagSecure) != 0;
    state->address.host = parent->host;
    state->address.port = parent->port != 0 ? parent->port : DefaultPort(state->address.secure);
    state->address.target = RequestTarget(path);
    state->handle = OpenOn(parent->handle.get(), *state);
    if (!state->handle) {
      SetError(ErrorText(GetLastError(), settings_));
      return 0;
    }
    return Add(std::move(state));
  }

  bool Send(SessionHandle request, const Text& headers, const Bytes* data) override {
    const auto state = Find<RequestState>(request);
    if (!state || state->sent) return false;
    state->sent = true;
    Text error;
    state->succeeded = Perform(*state, headers, data, error);
    SetError(state->succeeded ? Text() : error);
    if (!state->succeeded) {
      state->body = {};
      state->rawHeaders.clear();
      state->finalUrl.clear();
    }
    return state->succeeded;
  }

  bool Read(SessionHandle request, std::uint8_t* buffer, int size, int& read) override {
    read = 0;
    const auto state = Find<RequestState>(request);
    if (!state || !state->succeeded || size < 0) return false;
    const std::size_t count =
        std::min(state->body.size() - state->readAt, static_cast<std::size_t>(size));
    if (count > 0) std::memcpy(buffer, state->body.data() + state->readAt, count);
    state->readAt += count;
    read = static_cast<int>(count);
    return true;
  }

  bool QueryRawHeaders(SessionHandle request, char* buffer, int& length) override {
    const auto state = Find<RequestState>(request);
    if (!state || !state->succeeded) {
      length = 0;
      return false;
    }
    const Text& block = state->rawHeaders;
    const int needed = static_cast<int>(block.size()) + 1;
    if (length < needed) {
      length = needed;
      return false;
    }
    std::memcpy(buffer, block.c_str(), block.size() + 1);
    length = needed - 1;
    return true;
  }

  Text QueryFinalUrl(SessionHandle request) override {
    const auto state = Find<RequestState>(request);
    return state && state->succeeded ? state->finalUrl : Text();
  }

  std::size_t QueryDataAvailable(SessionHandle request) override {
    const auto state = Find<RequestState>(request);
    return state && state->succeeded ? state->body.size() - state->readAt : 0;
  }

  void Close(SessionHandle handle) override {
    State state;
    {
      std::lock_guard lock(mutex_);
      auto found = handles_.find(handle);
      if (found == handles_.end()) return;
      state = std::move(found->second);
      handles_.erase(found);
    }
    // The WinINet handles close here, outside the lock.
  }

  std::size_t MaxBodyBytes() const override { return settings_.maxBodyBytes; }

  Text LastError() const override {
    std::lock_guard lock(mutex_);
    return lastError_;
  }

 private:
  SessionHandle Add(State state) {
    std::lock_guard lock(mutex_);
    const SessionHandle handle = ++lastHandle_;
    handles_.emplace(handle, std::move(state));
    return handle;
  }

  template <class Kind>
  std::shared_ptr<Kind> Find(SessionHandle handle) const {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(handle);
    if (found == handles_.end()) return nullptr;
    const auto* kind = std::get_if<std::shared_ptr<Kind>>(&found->second);
    return kind ? *kind : nullptr;
  }

  void SetError(Text error) {
    std::lock_guard lock(mutex_);
    lastError_ = std::move(error);
  }

  InternetHandle OpenOn(HINTERNET connection, const RequestState& state) const {
    const char* version = state.version.empty() ? nullptr : state.version.c_str();
    InternetHandle handle(HttpOpenRequestA(connection, state.verb.c_str(),
                                           state.address.target.c_str(), version, nullptr, nullptr,
                                           RequestFlags(state.flags, state.address.secure), 0));
    if (handle) SetTimeouts(handle.get(), settings_);
    return handle;
  }

  Text FailureText(const Watchdog& watchdog, DWORD code) const {
    const Text reason = watchdog.Reason();
    if (!reason.empty()) return reason;
    if (watchdog.Stalled()) return "timed out: no byte for " + Seconds(settings_.stallTimeout);
    return ErrorText(code, settings_);
  }
  bool Perform(RequestState& state, const Text& headers, const Bytes* data, Text& error) const;
  bool ReadBody(RequestState& state, Watchdog& watchdog, Text& error) const;

  const WinInetSettings settings_;
  mutable std::mutex mutex_;
  std::map<SessionHandle, State> handles_;
  SessionHandle lastHandle_ = 0;
  Text lastError_;
};

// Takes the Set-Cookie lines of the answer into the process's jar.
void TakeCookies(HINTERNET request, const Address& from) {
  const std::optional<CookieUrl> url = CookieUrlOf(UrlOf(from));
  if (!url) return;
  const std::int64_t now = Now();
  DWORD index = 0;
  for (DWORD taken = 0; taken < kMaxSetCookieLines; ++taken) {
    const DWORD before = index;
    const std::optional<Text> value = QueryText(request, HTTP_QUERY_SET_COOKIE, &index);
    if (!value || index == before) return;
    WithSharedJar([&](CookieJar& jar) { return jar.TakeSetCookie(*value, *url, now); });
  }
}

Text CookieLineFor(const Address& to) {
  const std::optional<CookieUrl> url = CookieUrlOf(UrlOf(to));
  if (!url) return {};
  const std::int64_t now = Now();
  const std::string header =
      WithSharedJar([&](const CookieJar& jar) { return jar.CookieHeader(*url, now); });
  return header.empty() ? Text() : "Cookie: " + header;
}

bool WinInetSession::Perform(RequestState& state, const Text& headers, const Bytes* data,
                             Text& error) const {
  Watchdog watchdog(state.handle, settings_);
  const bool useJar = (state.flags & kFlagNoCookies) == 0;
  const bool follows = (state.flags & kFlagNoAutoRedirect) == 0;
  const Text firstHost = state.address.host;
  const int firstPort = state.address.port;
  bool withData = data != nullptr && !data->empty();
  for (int hop = 0;; ++hop) {
    const bool sameHost = state.address.host == firstHost && state.address.port == firstPort;
    Text block = sameHost ? headers : HeadersForAnotherHost(headers);
    if (useJar) {
      const Text cookieLine = CookieLineFor(state.address);
      if (!cookieLine.empty()) block += block.empty() ? cookieLine : "\r\n" + cookieLine;
    }
    const bool sent = watchdog.Run([&](HINTERNET request) {
      return HttpSendRequestA(request, block.empty() ? nullptr : block.c_str(),
                              static_cast<DWORD>(block.size()),
                              withData ? const_cast<std::uint8_t*>(data->data()) : nullptr,
                              withData ? static_cast<DWORD>(data->size()) : 0) != FALSE;
    });
    if (!sent) {
      error = FailureText(watchdog, GetLastError());
      return false;
    }
    HINTERNET request = state.handle.get();
    if (useJar) TakeCookies(request, state.address);
    const DWORD status = StatusOf(request);
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    const std::optional<Text> location =
        follows && redirect ? QueryText(request, HTTP_QUERY_LOCATION, nullptr) : std::nullopt;
    if (!location) break;

    if (hop == kMaxRedirects) {
      error = "more than " + FormatInteger(kMaxRedirects) + " redirects";
      return false;
    }
    const std::optional<Address> next = Resolve(state.address, *location);
    if (!next) {
      error = "redirect to an address that is not http or https";
      return false;
    }
    if (!RedirectAllowed(state.flags, *next)) {
      error = "redirect from a secure address to a plain one refused";
      return false;
    }
    // 301, 302 and 303 go on with a GET (a HEAD stays one), as browsers and libcurl do.
    if (status != 307 && status != 308 && state.verb != "HEAD") {
      state.verb = "GET";
      withData = false;
    }
    const bool nextSameConnection =
        next->host == state.connection->host &&
        next->port == (state.connection->port != 0 ? state.connection->port
                                                   : DefaultPort(state.address.secure));
    state.address = *next;
    InternetHandle nextConnection;
    if (!nextSameConnection) {
      nextConnection.reset(InternetConnectA(
          state.connection->internet->handle.get(), next->host.c_str(),
          static_cast<INTERNET_PORT>(next->port), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
      if (!nextConnection) {
        error = ErrorText(GetLastError(), settings_);
        return false;
      }
    }
    InternetHandle nextRequest =
        OpenOn(nextConnection ? nextConnection.get() : state.connection->handle.get(), state);
    if (!nextRequest) {
      error = ErrorText(GetLastError(), settings_);
      return false;
    }
    // The old hop's handles go only once the new ones are open. The watchdog does not
    // fire between calls, so the handle it watches may be replaced here.
    state.handle = std::move(nextRequest);
    state.hopConnection = std::move(nextConnection);
  }

  if (!ReadBody(state, watchdog, error)) return false;
  HINTERNET request = state.handle.get();
  state.rawHeaders = QueryText(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr).value_or(Text());
  Text url(INTERNET_MAX_URL_LENGTH + 1, '\0');
  DWORD length = static_cast<DWORD>(url.size());
  if (InternetQueryOptionA(request, INTERNET_OPTION_URL, url.data(), &length)) {
    state.finalUrl = Text(url.c_str(), strnlen(url.c_str(), url.size()));
  } else {
    state.finalUrl = UrlOf(state.address);
  }
  return true;
}

bool WinInetSession::ReadBody(RequestState& state, Watchdog& watchdog, Text& error) const {
  const std::size_t limit = settings_.maxBodyBytes;
  DWORD announced = 0;
  DWORD length = sizeof announced;
  if (HttpQueryInfoA(state.handle.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                     &announced, &length, nullptr) &&
      announced > 0) {
    ReserveLarge(state.body, std::min<std::size_t>(announced, limit));
  }
  Bytes chunk(kBodyChunk);
  for (;;) {
    DWORD waiting = 0;
    DWORD got = 0;
    const bool ok = watchdog.Run([&](HINTERNET request) {
      if (!InternetQueryDataAvailable(request, &waiting, 0, 0)) return false;
      const DWORD asked = std::clamp<DWORD>(waiting, 1, kBodyChunk);
      return InternetReadFile(request, chunk.data(), asked, &got) != FALSE;
    });
    if (!ok) {
      error = FailureText(watchdog, GetLastError());
      return false;
    }
    if (got == 0) return true;
    if (state.body.size() + got > limit) {
      error = "body larger than " + SizeText(limit);
      return false;
    }
    state.body.insert(state.body.end(), chunk.begin(), chunk.begin() + got);
  }
}

}  // namespace

std::unique_ptr<InternetSession> MakeWinInetSession(const WinInetSettings& settings) {
  return std::make_unique<WinInetSession>(settings);
}

}  // namespace zemlaro
