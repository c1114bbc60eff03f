#include "web/curl_session.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "web/curl_handles.h"
#include "web/curl_share.h"
#include "web/large_buffer.h"
#include "web/session_text.h"

namespace zemlaro {

namespace {

using Clock = std::chrono::steady_clock;

using HeaderList = StringList;

void Append(HeaderList& list, const Text& line) {
  if (curl_slist* head = curl_slist_append(list.get(), line.c_str())) {
    list.release();
    list.reset(head);
  }
}

// An easy handle taking part in a multi transfer; leaves it on every way out.
class MultiMembership {
 public:
  MultiMembership(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
    added_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  }
  ~MultiMembership() {
    if (added_) curl_multi_remove_handle(multi_, easy_);
  }
  MultiMembership(const MultiMembership&) = delete;
  MultiMembership& operator=(const MultiMembership&) = delete;
  bool Added() const { return added_; }

 private:
  CURLM* multi_;
  CURL* easy_;
  bool added_ = false;
};

}  // namespace

void PrepareCurl() {
  static std::once_flag once;
  std::call_once(once, [] {
    // libcurl would write every TLS secret to the file this variable names.
    unsetenv("SSLKEYLOGFILE");
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
}

namespace {

// Called on every new TLS context: whatever set up a key log, none is written.
CURLcode NoKeyLog(CURL*, void* sslContext, void*) {
  SSL_CTX_set_keylog_callback(static_cast<SSL_CTX*>(sslContext), nullptr);
  return CURLE_OK;
}

// The request target as sent; spaces and control bytes, which would break the
// request line, go percent-encoded.
Text RequestTarget(const Text& path) {
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

// The proxy for one scheme out of a proxy list such as "http=host:port" or a bare
// "host:port" (for every scheme); empty when the scheme goes direct.
Text ProxyFor(const Text& proxyName, std::string_view scheme) {
  Text forAll;
  for (const Text& entry : SplitOn(Substitute(proxyName, ";", " "), " ")) {
    if (entry.empty()) continue;
    const int equals = FindForward(entry, "=");
    if (equals == -1) {
      if (forAll.empty()) forAll = entry;
    } else if (LowerAscii(LeftPart(entry, equals - 1)) == scheme) {
      return RightPart(entry, LengthOf(entry) - equals);
    }
  }
  return forAll;
}

struct Transfer {
  CURL* easy = nullptr;
  Bytes body;
  Text headers;
  std::size_t maxBodyBytes = 0;
  bool tooLarge = false;
  Clock::time_point lastByte;
  // A HEAD that carries data runs as a request with a body, so libcurl would wait
  // for an answer body that never comes: the transfer ends with the last header.
  bool endAfterHeaders = false;
  bool followsRedirects = false;
  bool headersDone = false;
};

// Whether the header block just ended is the last one libcurl will see.
bool IsFinalBlock(const Transfer& transfer) {
  const std::size_t space = transfer.headers.find(' ');
  const int status = space == Text::npos ? 0 : std::atoi(transfer.headers.c_str() + space + 1);
  if (status < 200) return false;
  if (!transfer.followsRedirects || status < 300 || status > 399) return true;
  return FindForward(transfer.headers, "\r\nLocation:", std::nullopt, true) == -1;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer->lastByte = Clock::now();
  if (transfer->body.size() + length > transfer->maxBodyBytes) {
    transfer->tooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  // With the first bytes the final answer's headers are in: room for the whole body
  // as its Content-Length gives it (never beyond the limit), so it is not moved as
  // it grows.
  if (transfer->body.capacity() == 0) {
    curl_off_t announced = -1;
    if (curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
            CURLE_OK &&
        announced > 0) {
      const auto length = static_cast<std::uint64_t>(announced);
      ReserveLarge(transfer->body, length < transfer->maxBodyBytes
                                       ? static_cast<std::size_t>(length)
                                       : transfer->maxBodyBytes);
    }
  }
  transfer->body.insert(transfer->body.end(), data, data + length);
  return length;
}

// Keeps the header lines of the last response only (after redirects, interim
// answers and proxy tunnels), each ended by CRLF whatever the server sent.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer->lastByte = Clock::now();
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.substr(0, 5) == "HTTP/") transfer->headers.clear();
  if (transfer->headers.size() + line.size() + 2 > transfer->maxBodyBytes) {
    transfer->tooLarge = true;
    return 0;
  }
  transfer->headers.append(line);
  transfer->headers.append("\r\n");
  if (line.empty() && transfer->endAfterHeaders && IsFinalBlock(*transfer)) {
    transfer->headersDone = true;
    return 0;
  }
  return length;
}

struct HandleState {
  enum class Kind { Internet, Connection, Request };
  Kind kind = Kind::Internet;
  // Internet handle, copied into the handles opened from it.
  Text agent;
  int accessType = kAccessDirect;
  std::optional<Text> proxyName;
  std::optional<Text> proxyBypass;
  // Connection.
  Text host;
  int port = 0;
  // Request.
  Text verb;
  Text path;
  Text version;
  std::uint32_t flags = 0;
  bool succeeded = false;
  Bytes body;
  std::size_t readAt = 0;
  // How much of the body read so far was handed back to the kernel, by ReleaseRead.
  std::size_t released = 0;
  Text rawHeaders;
  Text finalUrl;
};

struct Outcome {
  bool ok = false;
  Bytes body;
  Text rawHeaders;
  Text finalUrl;
  Text error;
};

class CurlSession final : public InternetSession {
 public:
  explicit CurlSession(const CurlSettings& settings) : settings_(settings) { PrepareCurl(); }

  SessionHandle Open(const Text& agent, int accessType, const std::optional<Text>& proxyName,
                     const std::optional<Text>& proxyBypass) override {
    HandleState state;
    state.agent = agent;
    state.accessType = accessType;
    state.proxyName = proxyName;
    state.proxyBypass = proxyBypass;
    return Add(std::move(state));
  }

  SessionHandle Connect(SessionHandle internet, const Text& host, int port) override {
    std::optional<HandleState> state = Copy(internet, HandleState::Kind::Internet);
    if (!state) return 0;
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostByte)) {
      SetError("bad host name");
      return 0;
    }
    if (port < 0 || port > 65535) {
      SetError("bad port");
      return 0;
    }
    state->kind = HandleState::Kind::Connection;
    state->host = host;
    state->port = port;
    return Add(std::move(*state));
  }

  SessionHandle OpenRequest(SessionHandle connection, const Text& verb, const Text& path,
                            const Text& version, std::uint32_t flags) override {
    std::optional<HandleState> state = Copy(connection, HandleState::Kind::Connection);
    if (!state || verb.empty()) return 0;
    state->kind = HandleState::Kind::Request;
    state->verb = verb;
    state->path = path;
    state->version = version;
    state->flags = flags;
    return Add(std::move(*state));
  }

  bool Send(SessionHandle request, const Text& headers, const Bytes* data) override {
    std::optional<HandleState> state = Copy(request, HandleState::Kind::Request);
    if (!state) return false;
    Outcome outcome = Perform(*state, headers, data);
    SetError(outcome.error);
    std::lock_guard lock(mutex_);
    auto found = handles_.find(request);
    if (found == handles_.end()) return false;
    HandleState& stored = found->second;
    stored.succeeded = outcome.ok;
    stored.body = std::move(outcome.body);
    stored.readAt = 0;
    stored.released = 0;
    stored.rawHeaders = std::move(outcome.rawHeaders);
    stored.finalUrl = std::move(outcome.finalUrl);
    return outcome.ok;
  }

  bool Read(SessionHandle request, std::uint8_t* buffer, int size, int& read) override {
    read = 0;
    std::lock_guard lock(mutex_);
    auto found = handles_.find(request);
    if (found == handles_.end() || found->second.kind != HandleState::Kind::Request) return false;
    HandleState& state = found->second;
    if (!state.succeeded || size < 0) return false;
    const std::size_t count =
        std::min(state.body.size() - state.readAt, static_cast<std::size_t>(size));
    if (count > 0) std::memcpy(buffer, state.body.data() + state.readAt, count);
    state.readAt += count;
    // What is read is never read again: a large body is not held twice while it is
    // copied out.
    ReleaseRead(state.body, state.readAt, state.released);
    read = static_cast<int>(count);
    return true;
  }

  bool QueryRawHeaders(SessionHandle request, char* buffer, int& length) override {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(request);
    if (found == handles_.end() || found->second.kind != HandleState::Kind::Request ||
        !found->second.succeeded) {
      length = 0;
      return false;
    }
    const Text& block = found->second.rawHeaders;
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
    std::lock_guard lock(mutex_);
    auto found = handles_.find(request);
    if (found == handles_.end() || found->second.kind != HandleState::Kind::Request ||
        !found->second.succeeded) {
      return {};
    }
    return found->second.finalUrl;
  }

  std::size_t QueryDataAvailable(SessionHandle request) override {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(request);
    if (found == handles_.end() || found->second.kind != HandleState::Kind::Request ||
        !found->second.succeeded) {
      return 0;
    }
    return found->second.body.size() - found->second.readAt;
  }

  void Close(SessionHandle handle) override {
    std::lock_guard lock(mutex_);
    handles_.erase(handle);
  }

  std::size_t MaxBodyBytes() const override { return settings_.maxBodyBytes; }

  Text LastError() const override {
    std::lock_guard lock(mutex_);
    return lastError_;
  }

 private:
  SessionHandle Add(HandleState state) {
    std::lock_guard lock(mutex_);
    const SessionHandle handle = ++lastHandle_;
    handles_.emplace(handle, std::move(state));
    return handle;
  }

  std::optional<HandleState> Copy(SessionHandle handle, HandleState::Kind kind) const {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(handle);
    if (found == handles_.end() || found->second.kind != kind) return std::nullopt;
    return found->second;
  }

  void SetError(Text error) {
    std::lock_guard lock(mutex_);
    lastError_ = std::move(error);
  }

  Outcome Perform(const HandleState& request, const Text& headers, const Bytes* data) const;

  const CurlSettings settings_;
  mutable std::mutex mutex_;
  std::map<SessionHandle, HandleState> handles_;
  SessionHandle lastHandle_ = 0;
  Text lastError_;
};

// The header block as given, and none of libcurl's own lines beyond Host and the
// length of the data sent.
void SetHeaders(CURL* h, const Text& block, HeaderList& lines, HeaderList& proxyLines) {
  for (Text line : SplitOn(block, "\r\n")) {
    if (line.empty()) continue;
    // "Name:" alone would tell libcurl to drop the line; "Name;" sends it empty.
    const Text trimmed = TrimSpaces(line);
    if (!trimmed.empty() && trimmed.back() == ':' &&
        FindForward(trimmed, ":") == LengthOf(trimmed)) {
      line = LeftPart(trimmed, LengthOf(trimmed) - 1) + ";";
    }
    Append(lines, line);
  }
  for (const char* own : {"Accept:", "Expect:", "Proxy-Connection:"}) Append(lines, own);
  Append(proxyLines, "Proxy-Connection:");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, lines.get());
  curl_easy_setopt(h, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
  curl_easy_setopt(h, CURLOPT_PROXYHEADER, proxyLines.get());
}

// The verb; data goes with any verb but GET.
void SetVerb(CURL* h, const Text& verb, const Bytes* data, Transfer& transfer) {
  const bool withData = data != nullptr && !data->empty();
  if (verb == "HEAD" && !withData) curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  transfer.endAfterHeaders = verb == "HEAD" && withData;
  if (verb == "POST" || (withData && verb != "GET")) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(withData ? data->size() : 0));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, withData ? static_cast<const void*>(data->data()) : "");
  } else if (verb == "GET") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }
  if (verb != "GET" && verb != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
}

// Proxy, redirects and cookies, as the handles and flags ask.
void SetRouting(CURL* h, const HandleState& request, const char* scheme, Transfer& transfer) {
  // No proxy unless asked for; the environment's proxy settings never apply.
  Text proxy;
  if (request.accessType == kAccessProxy && request.proxyName) {
    proxy = ProxyFor(*request.proxyName, scheme);
  }
  curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
  const Text bypass =
      Substitute(Substitute(request.proxyBypass.value_or(Text()), ";", ","), " ", ",");
  curl_easy_setopt(h, CURLOPT_NOPROXY, bypass.c_str());
  curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  // At most 10 redirects, and never from a secure address to a plain one.
  transfer.followsRedirects = (request.flags & kFlagNoAutoRedirect) == 0;
  if (transfer.followsRedirects) {
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  }
  const char* redirectTo = (request.flags & kFlagSecure) != 0                  ? "https"
                           : (request.flags & kFlagIgnoreRedirectToHttps) != 0 ? "http,https"
                                                                               : "http";
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, redirectTo);

  if ((request.flags & kFlagNoCookies) == 0) {
    curl_easy_setopt(h, CURLOPT_SHARE, CookieShare());
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
  } else {
    curl_easy_setopt(h, CURLOPT_SHARE, TlsSessionShare());
  }
}

// Certificates are always checked: against the system's store and the extra CA file.
void SetTrust(CURL* h, const CurlSettings& settings) {
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, NoKeyLog);
  if (!settings.systemCaPath.empty()) {
    curl_easy_setopt(h, CURLOPT_CAPATH, settings.systemCaPath.c_str());
  }
  if (!settings.extraCaFile.empty()) {
    curl_easy_setopt(h, CURLOPT_CAINFO, settings.extraCaFile.c_str());
  }
}

enum class Abort { None, Cancelled, Stalled, TooLong };

// Drives the transfer to its end, watching the cancel flag, the time since the
// last byte moved either way and the time since the transfer began.
Abort RunTransfer(CURLM* multi, CURL* h, Transfer& transfer, const CurlSettings& settings,
                  CURLcode& result) {
  const Clock::time_point start = Clock::now();
  transfer.lastByte = start;
  curl_off_t uploaded = 0;
  for (;;) {
    if (settings.cancel && settings.cancel->load()) return Abort::Cancelled;
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK || running == 0) break;
    curl_off_t nowUploaded = 0;
    curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &nowUploaded);
    if (nowUploaded != uploaded) {
      uploaded = nowUploaded;
      transfer.lastByte = Clock::now();
    }
    if (settings.stallTimeout.count() > 0 &&
        Clock::now() - transfer.lastByte >= settings.stallTimeout) {
      return Abort::Stalled;
    }
    if (settings.totalTimeout.count() > 0 && Clock::now() - start >= settings.totalTimeout) {
      return Abort::TooLong;
    }
    curl_multi_poll(multi, nullptr, 0, 50, nullptr);
  }
  result = CURLE_RECV_ERROR;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == h) result = message->data.result;
  }
  return Abort::None;
}

Outcome CurlSession::Perform(const HandleState& request, const Text& headers,
                             const Bytes* data) const {
  Outcome outcome;
  EasyHandle easy(curl_easy_init());
  MultiHandle multi(curl_multi_init());
  if (!easy || !multi) {
    outcome.error = "out of memory";
    return outcome;
  }
  CURL* h = easy.get();
  const char* scheme = (request.flags & kFlagSecure) != 0 ? "https" : "http";
  const Text port = request.port != 0 ? JoinTexts({":", FormatInteger(request.port)}) : Text();
  const Text url = JoinTexts({scheme, "://", request.host, port, RequestTarget(request.path)});
  // The agent goes on one line whatever the caller's header text held.
  const Text agent = request.agent.substr(0, request.agent.find_first_of("\r\n"));
  char errorText[CURL_ERROR_SIZE] = {};
  Transfer transfer;
  transfer.easy = h;
  transfer.maxBodyBytes = settings_.maxBodyBytes;

  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION,
                   request.version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  if (settings_.connectTimeout.count() > 0) {
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings_.connectTimeout.count()));
  }
  HeaderList headerLines;
  HeaderList proxyHeaderLines;
  SetHeaders(h, headers, headerLines, proxyHeaderLines);
  SetVerb(h, request.verb, data, transfer);
  SetRouting(h, request, scheme, transfer);
  SetTrust(h, settings_);

  MultiMembership membership(multi.get(), h);
  if (!membership.Added()) {
    outcome.error = "could not start the transfer";
    return outcome;
  }
  CURLcode result = CURLE_OK;
  const Abort abort = RunTransfer(multi.get(), h, transfer, settings_, result);

  if (abort == Abort::Cancelled) {
    outcome.error = "cancelled";
  } else if (abort == Abort::Stalled) {
    outcome.error = "timed out: no byte for " + Seconds(settings_.stallTimeout);
  } else if (abort == Abort::TooLong) {
    outcome.error = "timed out: not done within " + Seconds(settings_.totalTimeout);
  } else if (transfer.tooLarge) {
    outcome.error = "body larger than " + SizeText(settings_.maxBodyBytes);
  } else if (result == CURLE_OPERATION_TIMEDOUT) {
    // The only time limit libcurl itself is given.
    outcome.error = "timed out: not connected within " + Seconds(settings_.connectTimeout);
  } else if (result == CURLE_PEER_FAILED_VERIFICATION) {
    outcome.error = JoinTexts({"certificate not trusted: ", errorText});
  } else if (result != CURLE_OK && !transfer.headersDone) {
    outcome.error = errorText[0] != '\0' ? Text(errorText) : Text(curl_easy_strerror(result));
  } else {
    outcome.ok = true;
    outcome.body = std::move(transfer.body);
    outcome.rawHeaders = std::move(transfer.headers);
    char* finalUrl = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl) {
      outcome.finalUrl = finalUrl;
    }
  }
  return outcome;
}

}  // namespace

std::unique_ptr<InternetSession> MakeCurlSession(const CurlSettings& settings) {
  return std::make_unique<CurlSession>(settings);
}

}  // namespace zemlaro
