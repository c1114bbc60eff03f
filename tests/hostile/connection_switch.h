// A TCP relay on 127.0.0.1 that sends each incoming connection on to one of two
// servers by its number: connection `divertedConnection` (1-based) goes to the
// second server, every other one to the first. Each request of a search run opens
// a connection of its own, so this puts a different server behind one page of
// a run, e.g. a server whose certificate nobody trusts behind page 2.
#pragma once

#include <memory>

namespace zemlaro::hostile {

class ConnectionSwitch {
 public:
  ConnectionSwitch(int normalPort, int divertedPort, int divertedConnection);
  ~ConnectionSwitch();
  ConnectionSwitch(const ConnectionSwitch&) = delete;
  ConnectionSwitch& operator=(const ConnectionSwitch&) = delete;

  bool Start();
  int Port() const;
  int Connections() const;  // accepted so far

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zemlaro::hostile
