// An InternetSession that records every call and answers from a script, for
// tests of code written over the session (WebRequest and its callers).
#pragma once

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "web/session.h"

namespace zemlaro {

class RecordingSession : public InternetSession {
 public:
  static constexpr SessionHandle kInternet = 0x11;
  static constexpr SessionHandle kConnection = 0x22;
  static constexpr SessionHandle kRequest = 0x33;

  // The script. A failing step gives the null handle.
  bool openFails = false;
  bool connectFails = false;
  bool openRequestFails = false;
  Bytes body;                // handed out in reads of at most the asked size
  bool endlessBody = false;  // every read fills the whole buffer, forever
  Text rawHeaders;           // the block QueryRawHeaders gives, when it fits
  Text finalUrl;             // what QueryFinalUrl gives
  std::size_t maxBodyBytes = std::numeric_limits<std::size_t>::max();

  // What was asked.
  struct OpenCall {
    Text agent;
    int accessType = 0;
    std::optional<Text> proxyName;
    std::optional<Text> proxyBypass;
  };
  struct ConnectCall {
    SessionHandle internet = 0;
    Text host;
    int port = 0;
  };
  struct RequestCall {
    SessionHandle connection = 0;
    Text verb;
    Text path;
    Text version;
    std::uint32_t flags = 0;
  };
  struct SendCall {
    SessionHandle request = 0;
    Text headers;
    std::optional<Bytes> data;  // absent when no data was passed
  };
  std::optional<OpenCall> opened;
  std::optional<ConnectCall> connected;
  std::optional<RequestCall> requested;
  std::optional<SendCall> sent;
  std::vector<int> readSizes;
  std::vector<int> queryLengths;  // the buffer length offered to each header query
  struct FinalUrlQuery {
    SessionHandle request = 0;
    std::size_t readsBefore = 0;   // reads made by then
    std::size_t closedBefore = 0;  // handles closed by then
  };
  std::vector<FinalUrlQuery> finalUrlQueries;
  std::vector<SessionHandle> closed;

  SessionHandle Open(const Text& agent, int accessType, const std::optional<Text>& proxyName,
                     const std::optional<Text>& proxyBypass) override {
    opened = OpenCall{agent, accessType, proxyName, proxyBypass};
    return openFails ? 0 : kInternet;
  }
  SessionHandle Connect(SessionHandle internet, const Text& host, int port) override {
    connected = ConnectCall{internet, host, port};
    return connectFails ? 0 : kConnection;
  }
  SessionHandle OpenRequest(SessionHandle connection, const Text& verb, const Text& path,
                            const Text& version, std::uint32_t flags) override {
    requested = RequestCall{connection, verb, path, version, flags};
    return openRequestFails ? 0 : kRequest;
  }
  bool Send(SessionHandle request, const Text& headers, const Bytes* data) override {
    sent = SendCall{request, headers, data ? std::optional<Bytes>(*data) : std::nullopt};
    return true;
  }
  bool Read(SessionHandle, std::uint8_t* buffer, int size, int& read) override {
    readSizes.push_back(size);
    if (endlessBody) {
      std::memset(buffer, 'x', static_cast<std::size_t>(size));
      read = size;
      return true;
    }
    const std::size_t count = std::min(body.size() - readAt_, static_cast<std::size_t>(size));
    if (count > 0) std::memcpy(buffer, body.data() + readAt_, count);
    readAt_ += count;
    read = static_cast<int>(count);
    return true;
  }
  bool QueryRawHeaders(SessionHandle, char* buffer, int& length) override {
    queryLengths.push_back(length);
    const int needed = static_cast<int>(rawHeaders.size()) + 1;
    if (length < needed) {
      length = needed;
      return false;
    }
    std::memcpy(buffer, rawHeaders.c_str(), rawHeaders.size() + 1);
    length = needed - 1;
    return true;
  }
  Text QueryFinalUrl(SessionHandle request) override {
    finalUrlQueries.push_back({request, readSizes.size(), closed.size()});
    return finalUrl;
  }
  void Close(SessionHandle handle) override { closed.push_back(handle); }
  std::size_t MaxBodyBytes() const override { return maxBodyBytes; }
  Text LastError() const override { return {}; }

 private:
  std::size_t readAt_ = 0;
};

}  // namespace zemlaro
