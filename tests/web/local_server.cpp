#include "tests/web/local_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "web/unique_fd.h"

namespace zemlaro {

namespace {

// From the head alone: its lines up to and including the last line's CRLF.
std::size_t ContentLength(const std::string& head) {
  std::string lower = head;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(lower.c_str() + at + 17, nullptr, 10));
}

}  // namespace

struct RawServer::State {
  RawHandler handler;
  SSL_CTX* tls = nullptr;
  bool tlsFailed = false;  // the certificate given could not be set up
  UniqueFd listenFd;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::thread acceptor;
  mutable std::mutex mutex;
  std::condition_variable stopped;
  std::vector<std::thread> connections;
  std::vector<UniqueFd> openFds;
  std::vector<std::string> requests;

  void Serve(int fd);
};

RawServer::RawServer(RawHandler handler, const ThrowawayCertificate* tls)
    : state_(std::make_unique<State>()) {
  state_->handler = std::move(handler);
  if (tls) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    const CertPtr cert = ReadCertificatePem(tls->certPem);
    const KeyPtr key = ReadKeyPem(tls->keyPem);
    // The context takes references of its own to both.
    if (!context || !cert || !key || SSL_CTX_use_certificate(context, cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context, key.get()) != 1) {
      state_->tlsFailed = true;
    }
    state_->tls = context;
  }
}

RawServer::~RawServer() {
  Stop();
  if (state_->tls) SSL_CTX_free(state_->tls);
}

bool RawServer::Start() {
  State& s = *state_;
  if (s.tlsFailed || s.listenFd) return false;
  s.listenFd.Reset(socket(AF_INET, SOCK_STREAM, 0));
  if (!s.listenFd) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(s.listenFd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s.listenFd.Get(), 16) != 0 ||
      getsockname(s.listenFd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    s.listenFd.Reset();
    return false;
  }
  s.port = ntohs(address.sin_port);
  s.acceptor = std::thread([&s] {
    while (!s.stopping) {
      pollfd waiting{s.listenFd.Get(), POLLIN, 0};
      if (poll(&waiting, 1, 50) <= 0) continue;
      UniqueFd accepted(accept(s.listenFd.Get(), nullptr, nullptr));
      if (!accepted) continue;
      const int fd = accepted.Get();
      std::lock_guard lock(s.mutex);
      s.openFds.push_back(std::move(accepted));  // closed by Stop, after its thread ended
      s.connections.emplace_back([&s, fd] { s.Serve(fd); });
    }
  });
  return true;
}

void RawServer::State::Serve(int fd) {
  SSL* ssl = nullptr;
  if (tls) {
    ssl = SSL_new(tls);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) != 1) {
      SSL_free(ssl);
      return;
    }
  }
  auto receive = [&](char* buffer, int size) {
    return ssl ? SSL_read(ssl, buffer, size) : static_cast<int>(recv(fd, buffer, size, 0));
  };
  auto send = [&](const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      const int size = static_cast<int>(bytes.size() - at);
      const int n = ssl ? SSL_write(ssl, bytes.data() + at, size)
                        : static_cast<int>(::send(fd, bytes.data() + at, size, MSG_NOSIGNAL));
      if (n <= 0) return;
      at += static_cast<std::size_t>(n);
    }
  };

  // The head is looked for in the new bytes only, and its length read once: the body
  // may come in the head's segment or in a thousand more, and a large body must not
  // cost a scan of all that came before for every segment.
  std::string request;
  char buffer[16384];
  std::size_t headEnd = std::string::npos;
  std::size_t wanted = 0;  // the whole request's length, once the head is in
  while (headEnd == std::string::npos || request.size() < wanted) {
    const int n = receive(buffer, sizeof buffer);
    if (n <= 0) break;
    const std::size_t searchFrom = request.size() < 3 ? 0 : request.size() - 3;
    request.append(buffer, static_cast<std::size_t>(n));
    if (headEnd == std::string::npos) {
      headEnd = request.find("\r\n\r\n", searchFrom);
      if (headEnd != std::string::npos) {
        wanted = headEnd + 4 + ContentLength(request.substr(0, headEnd + 2));
      }
    }
  }
  if (headEnd != std::string::npos) {
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
    }
    const RawReply reply = handler(request);
    send(reply.bytes);
    if (reply.holdOpen) {
      std::unique_lock lock(mutex);
      stopped.wait(lock, [this] { return stopping.load(); });
    }
  }
  if (ssl) {
    SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  shutdown(fd, SHUT_RDWR);
}

void RawServer::Stop() {
  State& s = *state_;
  if (!s.listenFd) return;
  {
    std::lock_guard lock(s.mutex);
    s.stopping = true;
  }
  s.stopped.notify_all();
  s.acceptor.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(s.mutex);
    for (const UniqueFd& fd : s.openFds) shutdown(fd.Get(), SHUT_RDWR);
    connections.swap(s.connections);
  }
  for (std::thread& connection : connections) connection.join();
  s.openFds.clear();
  s.listenFd.Reset();
}

int RawServer::Port() const { return state_->port; }

std::vector<std::string> RawServer::Requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

std::string RequestTarget(const std::string& request) {
  const std::size_t start = request.find(' ');
  if (start == std::string::npos) return {};
  const std::size_t end = request.find(' ', start + 1);
  return request.substr(start + 1, end == std::string::npos ? end : end - start - 1);
}

std::string HttpAnswer(const std::string& status, const std::string& headerLines,
                       const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         headerLines + "Connection: close\r\n\r\n" + body;
}

}  // namespace zemlaro
