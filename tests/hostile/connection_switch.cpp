#include "tests/hostile/connection_switch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "web/unique_fd.h"

namespace zemlaro::hostile {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// Copies both ways until either side closes or the switch stops.
void Relay(UniqueFd first, UniqueFd second, const std::atomic<bool>& stopping) {
  const int a = first.Get();
  const int b = second.Get();
  char buffer[16384];
  while (!stopping) {
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    if (poll(fds, 2, 100) < 0) break;
    bool closed = false;
    for (int k = 0; k < 2 && !closed; ++k) {
      if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
      if (n <= 0) {
        closed = true;
        break;
      }
      const int to = k == 0 ? b : a;
      for (ssize_t sent = 0; sent < n;) {
        const ssize_t m = send(to, buffer + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
        if (m <= 0) {
          closed = true;
          break;
        }
        sent += m;
      }
    }
    if (closed) break;
  }
}

}  // namespace

struct ConnectionSwitch::State {
  int normalPort = 0;
  int divertedPort = 0;
  int divertedConnection = 0;
  UniqueFd listener;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::atomic<int> connections{0};
  std::thread acceptor;
  std::mutex mutex;
  std::vector<std::thread> relays;

  void Accept() {
    while (!stopping) {
      pollfd fd{listener.Get(), POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      UniqueFd client(accept(listener.Get(), nullptr, nullptr));
      if (!client) continue;
      const int number = ++connections;
      const sockaddr_in to = Loopback(number == divertedConnection ? divertedPort : normalPort);
      UniqueFd server(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      if (!server ||
          connect(server.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        continue;
      }
      std::lock_guard lock(mutex);
      relays.emplace_back(Relay, std::move(client), std::move(server), std::cref(stopping));
    }
  }
};

ConnectionSwitch::ConnectionSwitch(int normalPort, int divertedPort, int divertedConnection)
    : state_(std::make_unique<State>()) {
  state_->normalPort = normalPort;
  state_->divertedPort = divertedPort;
  state_->divertedConnection = divertedConnection;
}

ConnectionSwitch::~ConnectionSwitch() {
  state_->stopping = true;
  if (state_->acceptor.joinable()) state_->acceptor.join();
  for (std::thread& relay : state_->relays) relay.join();
}

bool ConnectionSwitch::Start() {
  State& st = *state_;
  st.listener.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  const int fd = st.listener.Get();
  if (!st.listener || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(fd, 16) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    st.listener.Reset();
    return false;
  }
  st.port = ntohs(address.sin_port);
  st.acceptor = std::thread([&st] { st.Accept(); });
  return true;
}

int ConnectionSwitch::Port() const { return state_->port; }

int ConnectionSwitch::Connections() const { return state_->connections; }

}  // namespace zemlaro::hostile
