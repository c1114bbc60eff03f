#include "tests/web/local_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
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

namespace zemlaro {

namespace {

std::string PemOf(int (*write)(BIO*, void*), void* object) {
  BIO* bio = BIO_new(BIO_s_mem());
  write(bio, object);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  return pem;
}

void AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

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

TestCertificate MakeTestCertificate(const std::string& commonName) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  static std::atomic<long> serial{1000};
  ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(cert, NID_subject_key_identifier, "hash");
  AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  X509_sign(cert, key, EVP_sha256());

  TestCertificate result;
  result.certPem =
      PemOf([](BIO* b, void* x) { return PEM_write_bio_X509(b, static_cast<X509*>(x)); }, cert);
  result.keyPem = PemOf(
      [](BIO* b, void* k) {
        return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0, nullptr,
                                        nullptr);
      },
      key);
  char hash[16];
  std::snprintf(hash, sizeof hash, "%08lx.0", X509_subject_name_hash(cert));
  result.hashName = hash;
  X509_free(cert);
  EVP_PKEY_free(key);
  return result;
}

struct RawServer::State {
  RawHandler handler;
  SSL_CTX* tls = nullptr;
  int listenFd = -1;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::thread acceptor;
  mutable std::mutex mutex;
  std::condition_variable stopped;
  std::vector<std::thread> connections;
  std::vector<int> openFds;
  std::vector<std::string> requests;

  void Serve(int fd);
};

RawServer::RawServer(RawHandler handler, const TestCertificate* tls)
    : state_(std::make_unique<State>()) {
  state_->handler = std::move(handler);
  if (tls) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    BIO* certBio = BIO_new_mem_buf(tls->certPem.data(), static_cast<int>(tls->certPem.size()));
    BIO* keyBio = BIO_new_mem_buf(tls->keyPem.data(), static_cast<int>(tls->keyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    SSL_CTX_use_certificate(context, cert);
    SSL_CTX_use_PrivateKey(context, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    state_->tls = context;
  }
}

RawServer::~RawServer() {
  Stop();
  if (state_->tls) SSL_CTX_free(state_->tls);
}

bool RawServer::Start() {
  State& s = *state_;
  s.listenFd = socket(AF_INET, SOCK_STREAM, 0);
  if (s.listenFd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(s.listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s.listenFd, 16) != 0 ||
      getsockname(s.listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(s.listenFd);
    s.listenFd = -1;
    return false;
  }
  s.port = ntohs(address.sin_port);
  s.acceptor = std::thread([&s] {
    while (!s.stopping) {
      pollfd waiting{s.listenFd, POLLIN, 0};
      if (poll(&waiting, 1, 50) <= 0) continue;
      const int fd = accept(s.listenFd, nullptr, nullptr);
      if (fd < 0) continue;
      std::lock_guard lock(s.mutex);
      s.openFds.push_back(fd);
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
  if (s.listenFd < 0) return;
  {
    std::lock_guard lock(s.mutex);
    s.stopping = true;
  }
  s.stopped.notify_all();
  s.acceptor.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(s.mutex);
    for (int fd : s.openFds) shutdown(fd, SHUT_RDWR);
    connections.swap(s.connections);
  }
  for (std::thread& connection : connections) connection.join();
  for (int fd : s.openFds) close(fd);
  s.openFds.clear();
  close(s.listenFd);
  s.listenFd = -1;
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
