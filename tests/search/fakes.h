// A SearchView that records what the run does to it, and an InternetSession that
// answers from a table of canned bodies and records every request.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "search/search_run.h"
#include "web/session.h"

namespace zemlaro::testing {

class FakeView : public SearchView {
 public:
  using Row = std::array<Text, 4>;

  std::map<SearchBox, Text> boxes;
  std::vector<Row> rows;
  int selectedRow = -1;
  Text caption = "start-up caption";
  std::vector<std::string> events;  // "clear", "caption", "append:N", "restore", "done:i"
  std::vector<PageReport> reports;
  std::vector<Bytes> reportAnswers;  // copies of report.answer
  std::vector<Text> openedAddresses;
  int controlTextReads = 0;
  int stopAfterPages = -1;  // Stopped() turns true once this many pages are done
  std::function<void(FakeView&, const PageReport&)> afterPage;
  std::vector<Listing> listings;                 // every listing appended, with its details
  std::vector<std::chrono::milliseconds> waits;  // every pause asked for

  Text ControlText(SearchBox box) override {
    ++controlTextReads;
    return boxes[box];
  }
  void ClearList() override {
    events.push_back("clear");
    rows.clear();
  }
  int RowCount() override { return static_cast<int>(rows.size()); }
  void AppendRows(const std::vector<Listing>& listings) override {
    events.push_back("append:" + std::to_string(listings.size()));
    this->listings.insert(this->listings.end(), listings.begin(), listings.end());
    for (const Listing& l : listings) {
      rows.push_back({RowNumberText(RowCount()), l.title, l.itemId, l.sellerNick});
    }
  }
  Text CellText(int row, int column) override {
    if (row < 0 || row >= RowCount() || column < 0 || column > 3) return {};
    return rows[row][column];
  }
  void DeleteRow(int row) override {
    events.push_back("delete:" + std::to_string(row));
    if (row >= 0 && row < RowCount()) rows.erase(rows.begin() + row);
  }
  int SelectedRow() override { return selectedRow; }
  void SetCaption(const Text& text) override {
    events.push_back("caption");
    caption = text;
  }
  void RestoreCaption() override {
    events.push_back("restore");
    caption = "start-up caption";
  }
  void OpenAddress(const Text& address) override { openedAddresses.push_back(address); }
  bool Stopped() override {
    return stopAfterPages >= 0 && static_cast<int>(reports.size()) >= stopAfterPages;
  }
  bool WaitBeforePage(std::chrono::milliseconds delay) override {
    events.push_back("wait");
    waits.push_back(delay);
    return !Stopped();
  }
  void PageDone(const PageReport& report) override {
    events.push_back("done:" + std::to_string(report.page));
    reports.push_back(report);
    reportAnswers.push_back(report.answer ? *report.answer : Bytes{});
    if (afterPage) afterPage(*this, report);
  }
};

// Answers every request with body(host, port, path); a body of std::nullopt makes
// the connection fail, as an unreachable server does.
class CannedSession : public InternetSession {
 public:
  struct Request {
    Text agent;
    int accessType = 0;
    bool proxyAbsent = false;
    Text host;
    int port = 0;
    Text verb;
    Text path;
    Text version;
    std::uint32_t flags = 0;
    Text headers;
    bool dataAbsent = false;
  };

  std::function<std::optional<std::string>(const Request&)> body;
  std::function<void(const Request&)> onSend;  // called as each request is sent
  std::vector<Request> requests;
  // Where each answered request ended after redirects; unset, or for a request that
  // failed, the address is unknown (empty).
  std::function<Text(const Request&)> finalAddress;

  SessionHandle Open(const Text& agent, int accessType, const std::optional<Text>& proxyName,
                     const std::optional<Text>& proxyBypass) override {
    current_ = Request{};
    current_.agent = agent;
    current_.accessType = accessType;
    current_.proxyAbsent = !proxyName && !proxyBypass;
    lastError_.clear();
    return 1;
  }
  SessionHandle Connect(SessionHandle, const Text& host, int port) override {
    current_.host = host;
    current_.port = port;
    return 2;
  }
  SessionHandle OpenRequest(SessionHandle, const Text& verb, const Text& path, const Text& version,
                            std::uint32_t flags) override {
    current_.verb = verb;
    current_.path = path;
    current_.version = version;
    current_.flags = flags;
    return 3;
  }
  bool Send(SessionHandle, const Text& headers, const Bytes* data) override {
    current_.headers = headers;
    current_.dataAbsent = data == nullptr;
    requests.push_back(current_);
    if (onSend) onSend(current_);
    const std::optional<std::string> answer = body ? body(current_) : std::string();
    pending_ = answer.value_or(std::string());
    offset_ = 0;
    if (!answer) lastError_ = "could not connect";
    return answer.has_value();
  }
  bool Read(SessionHandle, std::uint8_t* buffer, int size, int& read) override {
    read = static_cast<int>(std::min<std::size_t>(size, pending_.size() - offset_));
    std::copy_n(pending_.data() + offset_, read, buffer);
    offset_ += read;
    return true;
  }
  bool QueryRawHeaders(SessionHandle, char* buffer, int& length) override {
    const std::string block = lastError_.empty() ? "HTTP/1.1 200 OK\r\n\r\n" : "";
    if (static_cast<int>(block.size()) + 1 > length) {
      length = static_cast<int>(block.size()) + 1;
      return false;
    }
    std::copy(block.begin(), block.end(), buffer);
    buffer[block.size()] = '\0';
    length = static_cast<int>(block.size());
    return true;
  }
  Text QueryFinalUrl(SessionHandle) override {
    return finalAddress && lastError_.empty() ? finalAddress(current_) : Text();
  }
  void Close(SessionHandle) override {}
  std::size_t MaxBodyBytes() const override { return 16u << 20; }
  Text LastError() const override { return lastError_; }

 private:
  Request current_;
  std::string pending_;
  std::size_t offset_ = 0;
  Text lastError_;
};

// A JSONP answer as the search service writes it, UTF-8; each listing is
// {title, item id, seller nick}.
inline std::string SearchAnswer(const std::vector<std::array<std::string, 3>>& listings,
                                int page = 1) {
  std::string out =
      "jsonp10" + std::to_string(page) + "({\"mods\":{\"itemlist\":{\"data\":{\"auctions\":[";
  for (std::size_t i = 0; i < listings.size(); ++i) {
    if (i > 0) out += ",";
    out += "{\"nid\":\"" + listings[i][1] + "\",\"raw_title\":\"" + listings[i][0] +
           "\",\"pic_url\":\"//img/x.jpg\",\"nick\":\"" + listings[i][2] + "\"}";
  }
  return out + "]}}}});";
}

// `count` listings "title<base+k>", "<base+k>", "nick<base+k>".
inline std::string NumberedAnswer(int count, int base = 0) {
  std::vector<std::array<std::string, 3>> listings;
  for (int k = 1; k <= count; ++k) {
    const std::string n = std::to_string(base + k);
    listings.push_back({"title" + n, n, "nick" + n});
  }
  return SearchAnswer(listings);
}

}  // namespace zemlaro::testing
