#include "tools/sample-market/market_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string_view>
#include <thread>

#include "tools/sample-market/market_api.h"
#include "tools/support/throwaway_cert.h"
#include "web/unique_fd.h"

namespace zemlaro::market {
namespace {

constexpr int kPageStep = 44;  // the client's offset step, whatever listingsPerPage says
constexpr char kCookieName[] = "market_session";
constexpr char kRedirectMarkerKey[] = "market_redirected";
constexpr char kAnswerType[] = "text/javascript; charset=utf-8";
constexpr char kHtmlType[] = "text/html; charset=utf-8";
constexpr char kJsonType[] = "application/json; charset=utf-8";
// How long the browser keeps the API's token cookies; the token itself is valid for
// MarketOptions::apiTokenLifetime, as the expiry inside its value says.
constexpr auto kApiTokenCookieKeep = std::chrono::hours(24 * 7);
constexpr int kEndlessBatch = 44;  // listings per chunk of an endless body
constexpr auto kEndlessPause = std::chrono::milliseconds(5);
constexpr auto kPollSlice = std::chrono::milliseconds(50);
constexpr auto kResetPause = std::chrono::milliseconds(100);

// ---------------------------------------------------------------------------------------------
// Sockets of the server's connections
//
// The HTTP library does not hand the connection's socket to handlers, so it is found by its
// addresses among the process's descriptors. Each match is a duplicate, so a descriptor that
// the library closes meanwhile cannot be mistaken for another one.

int PortOf(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
  return -1;
}

// Accepted sockets whose local port is `localPort` (and whose peer port is `remotePort`, when
// that is not -1).
std::vector<UniqueFd> ServerConnections(int localPort, int remotePort) {
  std::vector<UniqueFd> found;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return found;
  const int own = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) continue;
    UniqueFd copy(::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0));
    if (!copy) continue;
    sockaddr_storage local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (::getsockname(copy.Get(), reinterpret_cast<sockaddr*>(&local), &localLen) != 0) continue;
    if (PortOf(local) != localPort) continue;
    if (::getpeername(copy.Get(), reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) continue;
    if (remotePort != -1 && PortOf(peer) != remotePort) continue;
    found.push_back(std::move(copy));
  }
  ::closedir(dir);
  return found;
}

UniqueFd ConnectionOf(int localPort, int remotePort) {
  auto found = ServerConnections(localPort, remotePort);
  if (found.empty()) return UniqueFd();
  return std::move(found.front());
}

// The peer has closed its side (or the connection failed).
bool PeerGone(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Sends a TCP reset at once: disconnecting a connected TCP socket aborts it, and a zero
// linger time makes the final close abort it too.
void ResetConnection(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  sockaddr unspec{};
  unspec.sa_family = AF_UNSPEC;
  ::connect(fd, &unspec, sizeof unspec);
}

// ---------------------------------------------------------------------------------------------
// A task queue with a thread per connection, so that a hanging answer never holds up others.

class ThreadPerConnection : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Reap();
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto task = std::make_shared<std::function<void()>>(std::move(fn));
    try {
      workers_.push_back({std::thread([task, done] {
                            (*task)();
                            done->store(true);
                          }),
                          done});
    } catch (const std::system_error&) {
      (*task)();  // no thread to be had: serve it on the accepting thread
    }
  }

  void shutdown() override {
    std::vector<Worker> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers.swap(workers_);
    }
    for (auto& w : workers) w.thread.join();
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void Reap() {
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mutex_;
  std::vector<Worker> workers_;
};

// ---------------------------------------------------------------------------------------------
// Throw-away certificate

// Writes `content` to a fresh file in the temporary folder; the path, or empty on failure.
std::string WriteTempFile(const std::string& content) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/zemlaro-market-XXXXXX.pem";
  UniqueFd fd(::mkstemps(path.data(), 4));
  if (!fd) return {};
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd.Get(), content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  fd.Reset();
  if (done != content.size()) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

std::string Trim(std::string_view s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

bool IsCallbackName(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (unsigned char c : s) {
    if (!std::isalnum(c) && c != '_' && c != '$' && c != '.') return false;
  }
  return true;
}

// Headers that the HTTP library adds to a request itself.
bool IsLibraryHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

// The cookies a request carries, by name; the first of a name counts.
using Cookies = std::map<std::string, std::string, std::less<>>;

Cookies CookiesOf(const httplib::Request& req) {
  Cookies cookies;
  for (const auto& [name, value] : req.headers) {
    if (strcasecmp(name.c_str(), "Cookie") != 0) continue;
    std::string_view rest(value);
    while (!rest.empty()) {
      const size_t semi = rest.find(';');
      const std::string part = Trim(rest.substr(0, semi));
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      const size_t eq = part.find('=');
      if (eq != std::string::npos && eq > 0)
        cookies.emplace(part.substr(0, eq), part.substr(eq + 1));
    }
  }
  return cookies;
}

std::string CookieValue(const Cookies& cookies, std::string_view name) {
  const auto it = cookies.find(name);
  return it == cookies.end() ? std::string() : it->second;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// An HTTP date, "Sun, 06 Nov 1994 08:49:37 GMT", whatever the process's locale.
std::string HttpDate(std::chrono::system_clock::time_point when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return buf;
}

// A host-only cookie for path "/": a session cookie when `lifetime` is zero.
void SetCookie(httplib::Response& res, std::string_view name, const std::string& value,
               std::chrono::seconds lifetime, bool httpOnly) {
  std::string line = std::string(name) + "=" + value + "; Path=/";
  if (lifetime.count() > 0)
    line += "; Expires=" + HttpDate(std::chrono::system_clock::now() + lifetime);
  if (httpOnly) line += "; HttpOnly";
  res.set_header("Set-Cookie", line);
}

bool IsDigits(const std::string& s, size_t maxLength) {
  return !s.empty() && s.size() <= maxLength &&
         s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct SampleMarket::State {
  MarketOptions options;

  mutable std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::vector<RecordedRequest> requests;
  std::set<std::string> issuedCookies;
  uint64_t cookieCount = 0;
  std::string cookiePrefix;
  // What sign-ins, the API's token refusals and the punish page handed out.
  struct Token {
    int64_t expiryMs = 0;
    std::string session;  // SessionOf the request it was minted for
  };
  std::set<std::string> sessions;  // the session cookies' values of one sign-in, joined by '\n'
  std::map<std::string, Token> tokens;
  std::set<std::string> x5secs;
  uint64_t signIns = 0;
  std::mt19937_64 random{std::random_device{}()};

  bool started = false;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int port = 0;
  std::string caFile;

  bool Stopping() const {
    std::lock_guard<std::mutex> lock(mutex);
    return stopping;
  }

  // Waits `d` or until Stop; true when stopping.
  template <class Duration>
  bool WaitStop(Duration d) {
    std::unique_lock<std::mutex> lock(mutex);
    return wake.wait_for(lock, d, [this] { return stopping; });
  }

  Mode ModeOfPage(int page) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = options.pageModes.find(page);
    return it == options.pageModes.end() ? options.defaultMode : it->second;
  }

  std::string HostAndPort() const { return options.hostName + ":" + std::to_string(port); }
  std::string Origin() const { return (options.tls ? "https://" : "http://") + HostAndPort(); }

  std::string NewCookie() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string value = cookiePrefix + std::to_string(++cookieCount);
    issuedCookies.insert(value);
    return value;
  }

  void Record(const httplib::Request& req) {
    RecordedRequest r;
    r.at = std::chrono::steady_clock::now();
    r.method = req.method;
    r.target = req.target;
    std::vector<std::string> cookieValues;
    for (const auto& [name, value] : req.headers) {
      if (IsLibraryHeader(name)) continue;
      r.headers.emplace_back(name, value);
      if (strcasecmp(name.c_str(), "Cookie") != 0) continue;
      std::string_view rest(value);
      while (!rest.empty()) {
        const size_t semi = rest.find(';');
        const std::string part = Trim(rest.substr(0, semi));
        rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        const std::string prefix = std::string(kCookieName) + "=";
        if (part.compare(0, prefix.size(), prefix) == 0)
          cookieValues.push_back(part.substr(prefix.size()));
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& v : cookieValues) {
      if (issuedCookies.count(v)) r.cookieCameBack = true;
    }
    requests.push_back(std::move(r));
  }

  SearchQuery ReadQuery(const httplib::Request& req) const {
    SearchQuery q;
    q.keyword = req.get_param_value("q");
    const std::string offset = req.get_param_value("data-value");
    char* end = nullptr;
    const long value = std::strtol(offset.c_str(), &end, 10);
    if (!offset.empty() && *end == '\0' && value >= 0 && value <= 1'000'000'000L) {
      q.offset = static_cast<int>(value);
    }
    q.page = q.offset / kPageStep + 1;
    q.callback = req.get_param_value("callback");
    if (!IsCallbackName(q.callback)) q.callback = "jsonp10" + std::to_string(q.page);
    q.host = HostAndPort();
    return q;
  }

  ApiMode ApiModeOfPage(int page) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = options.apiPageModes.find(page);
    return it == options.apiPageModes.end() ? options.apiDefaultMode : it->second;
  }

  std::string RandomHex(size_t bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::lock_guard<std::mutex> lock(mutex);
    std::string hex;
    for (size_t i = 0; i < bytes; ++i) {
      const uint64_t b = random() & 0xFF;
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    return hex;
  }

  // The key of the sign-in whose session cookies the request carries, or empty.
  std::string SessionOf(const Cookies& cookies) const {
    std::string key;
    for (std::string_view name : kSessionCookieNames) {
      const auto it = cookies.find(name);
      if (it == cookies.end() || it->second.empty()) return {};
      if (!key.empty()) key += '\n';
      key += it->second;
    }
    std::lock_guard<std::mutex> lock(mutex);
    return sessions.count(key) ? key : std::string();
  }

  bool Verified(const Cookies& cookies) const {
    const std::string value = CookieValue(cookies, kVerificationCookieName);
    std::lock_guard<std::mutex> lock(mutex);
    return !value.empty() && x5secs.count(value) > 0;
  }

  // An address on this market to go back to after a sign-in or a verification: `asked` when
  // it is one, else the search.
  std::string BackTo(const std::string& asked) const {
    const std::string origin = Origin();
    if (asked.compare(0, origin.size() + 1, origin + "/") == 0) return asked;
    if (asked.size() > 1 && asked[0] == '/' && asked[1] != '/') return origin + asked;
    return origin + kSearchPath;
  }

  std::string LoginUrl(const std::string& back) const {
    return Origin() + kLoginPath + "?" + kRedirectUrlKey + "=" + PercentEncode(back);
  }

  std::string PunishUrl(const std::string& back) {
    return Origin() + kPunishPath + "?" + kX5SecDataKey + "=" + RandomHex(24) + "&" +
           kRedirectUrlKey + "=" + PercentEncode(back);
  }

  void RefreshCookie(httplib::Response& res) {
    SetCookie(res, kRefreshedCookieName, RandomHex(20),
              std::chrono::duration_cast<std::chrono::seconds>(kRefreshedCookieLifetime), false);
  }

  void AnswerSearch(const httplib::Request& req, httplib::Response& res);
  void AnswerApi(const httplib::Request& req, httplib::Response& res);
  void IssueToken(httplib::Response& res, const std::string& session);
  void SignIn(const httplib::Request& req, httplib::Response& res);
  void Verify(const httplib::Request& req, httplib::Response& res);
  void HoldSilent(const httplib::Request& req);
};

void SampleMarket::State::AnswerSearch(const httplib::Request& req, httplib::Response& res) {
  if (options.loginWall || options.verificationWall) {
    const Cookies cookies = CookiesOf(req);
    const std::string here = Origin() + req.target;
    if (options.loginWall) {
      RefreshCookie(res);
      if (SessionOf(cookies).empty()) {
        res.set_redirect(LoginUrl(here), 302);
        return;
      }
    }
    if (options.verificationWall && !Verified(cookies)) {
      res.set_content(VerificationAnswer(PunishUrl(here)), kJsonType);
      return;
    }
  }
  const SearchQuery q = ReadQuery(req);
  const int perPage = std::max(0, options.listingsPerPage);
  const Mode mode = req.has_param(kRedirectMarkerKey) ? Mode::Normal : ModeOfPage(q.page);
  switch (mode) {
    case Mode::Normal:
      res.set_content(ListingsAnswer(q, perPage, false), kAnswerType);
      return;
    case Mode::Empty:
      res.set_content(ListingsAnswer(q, 0, false), kAnswerType);
      return;
    case Mode::LoginPage:
      res.set_content(LoginPageHtml(), kHtmlType);
      return;
    case Mode::Silent:
      HoldSilent(req);
      return;
    case Mode::Drip: {
      auto body = std::make_shared<std::string>(ListingsAnswer(q, perPage, false));
      const auto interval = options.dripInterval;
      res.set_content_provider(
          body->size(), kAnswerType,
          [this, body, interval](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset > 0 && WaitStop(interval)) return false;
            if (Stopping()) return false;
            return sink.write(body->data() + offset, 1);
          });
      return;
    }
    case Mode::EndlessBody: {
      auto next = std::make_shared<int>(0);
      res.set_chunked_content_provider(
          kAnswerType, [this, q, next](size_t offset, httplib::DataSink& sink) {
            if (Stopping() || !sink.is_writable()) return false;
            std::string chunk = offset == 0 ? AnswerHead(q) : std::string();
            for (int k = 0; k < kEndlessBatch; ++k) {
              if (*next > 0) chunk += ',';
              const int index = *next % 1'000'000;
              chunk += ListingJson(ListingAt(q.keyword, q.page, index), q.keyword, q.page, index,
                                   q.host);
              ++*next;
            }
            if (!sink.write(chunk.data(), chunk.size())) return false;
            return !WaitStop(kEndlessPause);
          });
      return;
    }
    case Mode::Reset: {
      auto body = std::make_shared<std::string>(ListingsAnswer(q, perPage, false));
      const size_t half = body->size() / 2;
      const int localPort = req.local_port, remotePort = req.remote_port;
      res.set_content_provider(body->size(), kAnswerType,
                               [this, body, half, localPort, remotePort](size_t offset, size_t,
                                                                         httplib::DataSink& sink) {
                                 if (offset < half)
                                   return sink.write(body->data() + offset, half - offset);
                                 WaitStop(kResetPause);  // lets the client take in the first half
                                 if (UniqueFd conn = ConnectionOf(localPort, remotePort))
                                   ResetConnection(conn.Get());
                                 return false;
                               });
      return;
    }
    case Mode::RedirectLoop:
      res.set_redirect(Origin() + req.target, 302);
      return;
    case Mode::RedirectOnce: {
      const char* glue = req.target.find('?') == std::string::npos ? "?" : "&";
      res.set_redirect(Origin() + req.target + glue + kRedirectMarkerKey + "=1", 302);
      return;
    }
    case Mode::Garbage:
      res.set_content(ListingsAnswer(q, perPage, true), kAnswerType);
      return;
    case Mode::Huge:
      res.set_content(ListingsAnswer(q, kHugeListingCount, false), kAnswerType);
      return;
  }
}

// The signed API: the token, then the sign, then DATA, then the walls, then the page's mode.
void SampleMarket::State::AnswerApi(const httplib::Request& req, httplib::Response& res) {
  const Cookies cookies = CookiesOf(req);
  std::string callback = req.get_param_value("callback");
  if (!IsCallbackName(callback)) callback = std::string(kApiCallbackPrefix) + "1";
  if (options.loginWall) RefreshCookie(res);
  const auto answer = [&](std::string_view ret, const std::string& url) {
    res.set_content(ApiRefusalAnswer(callback, ret, url), kAnswerType);
  };

  const std::string session = SessionOf(cookies);
  const std::string token(ApiTokenOf(CookieValue(cookies, kApiTokenCookie)));
  bool known = false, valid = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = tokens.find(token);
    known = !token.empty() && it != tokens.end();
    // A token minted before a sign-in (or for another one) no longer fits.
    valid = known && it->second.expiryMs > NowMs() && it->second.session == session;
  }
  if (!valid) {
    IssueToken(res, session);
    answer(known ? kApiRetTokenExpired : kApiRetTokenEmpty, {});
    return;
  }

  const std::string t = req.get_param_value("t");
  const std::string data = req.get_param_value("data");
  bool timeFits = IsDigits(t, 15);
  if (timeFits && options.apiClockTolerance.count() > 0) {
    timeFits = std::llabs(std::stoll(t) - NowMs()) <= options.apiClockTolerance.count();
  }
  if (!timeFits ||
      req.get_param_value("sign") != ApiSign(token, t, req.get_param_value("appKey"), data)) {
    answer(kApiRetBadSign, {});
    return;
  }
  const ApiData asked = ReadApiData(data);
  if (!asked.ok) {
    answer(kApiRetBadParams, {});
    return;
  }

  // After a sign-in or a verification the browser goes to the legacy search of the keyword.
  const std::string back = Origin() + kSearchPath + "?q=" + PercentEncode(asked.keyword);
  if (options.loginWall && session.empty()) {
    answer(kApiRetUserValidate, LoginUrl(back));
    return;
  }
  if (options.verificationWall && !Verified(cookies)) {
    answer(kApiRetBlock, PunishUrl(back));
    return;
  }
  const int total = std::max(0, options.apiTotalPages);
  const ApiMode mode = ApiModeOfPage(asked.page);
  switch (mode) {
    case ApiMode::Normal:
    case ApiMode::Empty:
      res.set_content(ApiPageAnswer(callback, asked.keyword, asked.page, total,
                                    mode == ApiMode::Normal && asked.page <= total),
                      kAnswerType);
      return;
    case ApiMode::Block:
      answer(kApiRetBlock, PunishUrl(back));
      return;
    case ApiMode::FlowLimit:
      answer(kApiRetFlowLimit, {});
      return;
    case ApiMode::SessionExpired:
      answer(kApiRetSessionExpired, {});
      return;
  }
}

// Sets a fresh token and its companion, valid for options.apiTokenLifetime from now.
void SampleMarket::State::IssueToken(httplib::Response& res, const std::string& session) {
  const std::string token = RandomHex(16);
  const int64_t expiry = NowMs() + options.apiTokenLifetime.count();
  {
    std::lock_guard<std::mutex> lock(mutex);
    tokens[token] = Token{expiry, session};
  }
  const auto keep = std::chrono::duration_cast<std::chrono::seconds>(kApiTokenCookieKeep);
  SetCookie(res, kApiTokenCookie, token + "_" + std::to_string(expiry), keep, false);
  SetCookie(res, kApiTokenEncCookie, RandomHex(16), keep, false);
}

// Any name and password will do: sets the session cookies of a new sign-in and the token
// cookie, then goes back to the address the form carried.
void SampleMarket::State::SignIn(const httplib::Request& req, httplib::Response& res) {
  std::vector<std::string> values;
  std::string key;
  for (size_t i = 0; i < std::size(kSessionCookieNames); ++i) {
    values.push_back(RandomHex(16));
    if (!key.empty()) key += '\n';
    key += values.back();
  }
  uint64_t number = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    sessions.insert(key);
    number = ++signIns;
  }
  for (size_t i = 0; i < values.size(); ++i) {
    SetCookie(res, kSessionCookieNames[i], values[i], std::chrono::seconds(0), true);
  }
  SetCookie(res, kTokenCookieName, std::to_string(2'200'000'000'000ULL + number),
            std::chrono::duration_cast<std::chrono::seconds>(kTokenCookieLifetime), false);
  res.set_redirect(BackTo(req.get_param_value(kRedirectUrlKey)), 302);
}

// The punish page's button: sets an x5sec cookie and goes back.
void SampleMarket::State::Verify(const httplib::Request& req, httplib::Response& res) {
  const std::string value = RandomHex(24);
  {
    std::lock_guard<std::mutex> lock(mutex);
    x5secs.insert(value);
  }
  SetCookie(res, kVerificationCookieName, value,
            std::chrono::duration_cast<std::chrono::seconds>(kVerificationCookieLifetime), false);
  res.set_redirect(BackTo(req.get_param_value(kRedirectUrlKey)), 302);
}

// Answers nothing until Stop or until the client gives up, then closes the connection
// without a word.
void SampleMarket::State::HoldSilent(const httplib::Request& req) {
  UniqueFd conn = ConnectionOf(req.local_port, req.remote_port);
  while (!WaitStop(kPollSlice)) {
    if (conn && PeerGone(conn.Get())) break;
  }
  if (conn) ::shutdown(conn.Get(), SHUT_RDWR);
}

SampleMarket::SampleMarket(MarketOptions options) : state_(std::make_unique<State>()) {
  state_->options = std::move(options);
  std::random_device rd;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%08x%08x-", rd(), rd());
  state_->cookiePrefix = prefix;
}

SampleMarket::~SampleMarket() {
  Stop();
  if (!state_->caFile.empty()) ::unlink(state_->caFile.c_str());
}

bool SampleMarket::Start() {
  State& st = *state_;
  if (st.started) return false;
  st.started = true;

  if (st.options.tls) {
    const ThrowawayCertificate made = MakeThrowawayCertificate("127.0.0.1");
    const KeyPtr key = ReadKeyPem(made.keyPem);
    const CertPtr cert = ReadCertificatePem(made.certPem);
    if (!made.ok() || !key || !cert) return false;
    st.caFile = WriteTempFile(made.certPem);
    if (st.caFile.empty()) return false;
    // The server context takes its own references to both.
    st.server = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
  } else {
    st.server = std::make_unique<httplib::Server>();
  }
  httplib::Server& svr = *st.server;
  if (!svr.is_valid()) return false;
  svr.new_task_queue = [] { return new ThreadPerConnection; };
  // Small answers must not wait for the client's delayed ACK.
  svr.set_tcp_nodelay(true);

  svr.set_pre_routing_handler([&st](const httplib::Request& req, httplib::Response& res) {
    st.Record(req);
    // Answers go out uncompressed, so that every mode reaches the client byte for byte. The
    // request object is the library's own modifiable one.
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    if (st.options.setCookies) {
      res.set_header("Set-Cookie", std::string(kCookieName) + "=" + st.NewCookie() + "; Path=/");
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  svr.Get(kSearchPath, [&st](const httplib::Request& req, httplib::Response& res) {
    st.AnswerSearch(req, res);
  });
  svr.Get(kItemPath, [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(ItemPageHtml(req.get_param_value("id")), kHtmlType);
  });
  svr.Get(kApiPath,
          [&st](const httplib::Request& req, httplib::Response& res) { st.AnswerApi(req, res); });
  svr.Get(kLoginPath, [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(SignInPageHtml(req.get_param_value(kRedirectUrlKey)), kHtmlType);
  });
  svr.Post(kLoginPath,
           [&st](const httplib::Request& req, httplib::Response& res) { st.SignIn(req, res); });
  svr.Get(kPunishPath, [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(
        PunishPageHtml(req.get_param_value(kX5SecDataKey), req.get_param_value(kRedirectUrlKey)),
        kHtmlType);
  });
  svr.Post(kPunishPath,
           [&st](const httplib::Request& req, httplib::Response& res) { st.Verify(req, res); });

  st.port = svr.bind_to_any_port("127.0.0.1");
  if (st.port <= 0) {
    st.port = 0;
    return false;
  }
  auto ended = std::make_shared<std::atomic<bool>>(false);
  st.thread = std::thread([&svr, ended] {
    svr.listen_after_bind();
    ended->store(true);
  });
  // stop() only takes effect once the accept loop runs, so wait for it.
  while (!svr.is_running() && !ended->load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (ended->load() && !svr.is_running()) {
    st.thread.join();
    return false;
  }
  return true;
}

void SampleMarket::Stop() {
  State& st = *state_;
  if (!st.thread.joinable()) return;
  st.server->stop();  // no new connections
  // Cut every open connection first, so that answers cut short by the stop reach no client.
  for (UniqueFd& conn : ServerConnections(st.port, -1)) ::shutdown(conn.Get(), SHUT_RDWR);
  {
    std::lock_guard<std::mutex> lock(st.mutex);
    st.stopping = true;
  }
  st.wake.notify_all();
  st.thread.join();
}

int SampleMarket::Port() const { return state_->port; }

std::string SampleMarket::HostAndPort() const { return state_->HostAndPort(); }

std::string SampleMarket::CaFile() const { return state_->caFile; }

std::vector<RecordedRequest> SampleMarket::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

void SampleMarket::SetPageMode(int page, Mode mode) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->options.pageModes[page] = mode;
}

void SampleMarket::SetApiPageMode(int page, ApiMode mode) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->options.apiPageModes[page] = mode;
}

}  // namespace zemlaro::market
