// WebRequest's handling of the answer, over a fake session whose raw header block
// and body come from the input: the body as delivered (or empty past the session's
// cap), the header block with every "Set-Cookie" in that letter case, the cookies
// collected from it, out arguments untouched when no request was opened, and every
// handle opened closed exactly once, newest first.
//
// Input: flags, read size, cap (the body's size plus this signed byte), a spare
// byte, the header block length (2 bytes, little endian), the header block, then
// the body.
//   flags bit 0/1/2: opening the session / connection / request fails
//         bit 3: the body is capped at the cap bytes
//         bit 4: out arguments left out      bit 5: POST with data
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "reference.h"
#include "tests/web/recording_session.h"
#include "web/web_request.h"

namespace {

using zemlaro::fuzz::Escaped;
namespace ref = zemlaro::fuzz::ref;

// The recording session, with reads of a size the input chooses (never 0 before
// the end, which would end the body early).
class ChunkedSession : public zemlaro::RecordingSession {
 public:
  int chunk = zemlaro::kReadChunk;

  bool Read(zemlaro::SessionHandle, std::uint8_t* buffer, int size, int& read) override {
    readSizes.push_back(size);
    const std::size_t want = static_cast<std::size_t>(std::min(size, chunk));
    const std::size_t count = std::min(body.size() - delivered_, want);
    if (count > 0) std::memcpy(buffer, body.data() + delivered_, count);
    delivered_ += count;
    read = static_cast<int>(count);
    // Alternate between the chosen size and the whole buffer.
    chunk = chunk == zemlaro::kReadChunk ? firstChunk_ : zemlaro::kReadChunk;
    return true;
  }

  void SetChunk(int size) { chunk = firstChunk_ = size; }

 private:
  std::size_t delivered_ = 0;
  int firstChunk_ = zemlaro::kReadChunk;
};

// The cookies collected from a response header block, by the reference primitives.
std::string ExpectedCookies(const std::string& headers) {
  std::string cookies;
  for (const std::string& line : ref::SplitOn(headers, "\r\n", std::nullopt)) {
    if (ref::FindForward(line, "Set-Cookie", std::nullopt, false) == -1) continue;
    const std::string part =
        ref::FindForward(line, ";", std::nullopt, false) != -1
            ? ref::TrimSpaces(ref::TextBetween(line, "Set-Cookie:", ";", std::nullopt, false))
            : ref::TrimSpaces(
                  ref::Substitute(line, "Set-Cookie:", "", std::nullopt, std::nullopt, false));
    cookies += part + "; ";
  }
  return ref::LeftPart(cookies, static_cast<int>(cookies.size()) - 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::uint8_t flags = data[0];
  const std::size_t headerLength =
      std::min<std::size_t>(static_cast<std::size_t>(data[4] | data[5] << 8), size - 6);
  const std::string rawHeaders(reinterpret_cast<const char*>(data + 6), headerLength);
  const zemlaro::Bytes delivered(data + 6 + headerLength, data + size);

  ChunkedSession session;
  session.openFails = (flags & 0x01) != 0;
  session.connectFails = (flags & 0x02) != 0;
  session.openRequestFails = (flags & 0x04) != 0;
  session.SetChunk(1 + data[1] * 4);
  // The cap lies near the body's size, where its edge is.
  const long cap = static_cast<long>(size - 6 - headerLength) + static_cast<std::int8_t>(data[2]);
  if (flags & 0x08) session.maxBodyBytes = static_cast<std::size_t>(std::max(0L, cap));
  session.rawHeaders = rawHeaders;
  session.body = delivered;

  const bool outArgs = (flags & 0x10) == 0;
  std::string receivedCookies = "untouched cookies";
  std::string headers = "X-Fuzz: 1";
  std::string responseHeaders = "untouched headers";
  zemlaro::Bytes dataBytes = {'u'};
  zemlaro::WebRequestArgs args;
  if (outArgs) {
    args.receivedCookies = &receivedCookies;
    args.headers = &headers;
    args.responseHeaders = &responseHeaders;
    args.dataBytes = &dataBytes;
  }
  if (flags & 0x20) {
    args.method = 1;
    args.dataText = "a=1";
  }
  const zemlaro::Bytes body = zemlaro::WebRequest(session, "http://127.0.0.1:8080/p?q=1", args);
  const std::string what = "header block " + Escaped(rawHeaders) + " body " + Escaped(delivered) +
                           " flags " + std::to_string(flags);

  // Handles: each one opened is closed once, newest first.
  using S = zemlaro::RecordingSession;
  std::vector<zemlaro::SessionHandle> expectedClosed;
  if (!session.openFails) {
    if (session.connectFails) {
      expectedClosed = {S::kInternet};
    } else if (session.openRequestFails) {
      expectedClosed = {S::kConnection, S::kInternet};
    } else {
      expectedClosed = {S::kRequest, S::kConnection, S::kInternet};
    }
  }
  FUZZ_CHECK(session.closed == expectedClosed,
             what + " closed " + std::to_string(session.closed.size()) + " handles");

  const bool opened = !session.openFails && !session.connectFails && !session.openRequestFails;
  if (!opened) {
    FUZZ_CHECK(body.empty(), what);
    FUZZ_CHECK(receivedCookies == "untouched cookies" && headers == "X-Fuzz: 1" &&
                   responseHeaders == "untouched headers" && dataBytes == zemlaro::Bytes{'u'},
               what + " out arguments written");
    FUZZ_CHECK(session.readSizes.empty() && session.queryLengths.empty(), what);
    return 0;
  }

  // Body: all of it, or nothing when it outgrows the cap.
  const std::size_t limit = session.maxBodyBytes;
  const zemlaro::Bytes expectedBody = delivered.size() <= limit ? delivered : zemlaro::Bytes{};
  FUZZ_CHECK(body == expectedBody, what + " gave body " + Escaped(body));
  for (const int asked : session.readSizes) FUZZ_CHECK(asked == zemlaro::kReadChunk, what);
  FUZZ_CHECK(session.queryLengths == std::vector<int>{zemlaro::kRawHeaderBuffer}, what);
  if (!outArgs) return 0;

  FUZZ_CHECK(session.sent && session.sent->headers == headers,
             what + " headers " + Escaped(headers));
  const bool fits = rawHeaders.size() + 1 <= static_cast<std::size_t>(zemlaro::kRawHeaderBuffer);
  if (!fits) {
    FUZZ_CHECK(receivedCookies.empty(), what + " cookies " + Escaped(receivedCookies));
    return 0;
  }
  const std::string block = rawHeaders.substr(0, rawHeaders.find('\0'));
  const std::string expectedHeaders =
      ref::Substitute(block, "Set-Cookie", "Set-Cookie", std::nullopt, std::nullopt, false);
  FUZZ_CHECK(responseHeaders == expectedHeaders, what + " response headers " +
                                                     Escaped(responseHeaders) + " expected " +
                                                     Escaped(expectedHeaders));
  // No "set-cookie" in another letter case is left at a character start.
  for (int p = ref::FindForward(responseHeaders, "set-cookie", std::nullopt, true); p != -1;
       p = ref::FindForward(responseHeaders, "set-cookie", ref::NextCharacter(responseHeaders, p),
                            true)) {
    FUZZ_CHECK(responseHeaders.compare(static_cast<std::size_t>(p - 1), 10, "Set-Cookie") == 0,
               what + " at " + std::to_string(p));
  }
  const std::string expectedCookies = ExpectedCookies(responseHeaders);
  FUZZ_CHECK(receivedCookies == expectedCookies, what + " cookies " + Escaped(receivedCookies) +
                                                     " expected " + Escaped(expectedCookies));
  // One part per cookie line, joined by "; ": none without a cookie line.
  int cookieLines = 0;
  for (const std::string& line : ref::SplitOn(responseHeaders, "\r\n", std::nullopt)) {
    if (ref::FindForward(line, "Set-Cookie", std::nullopt, false) != -1) ++cookieLines;
  }
  int separators = 0;
  for (std::size_t at = receivedCookies.find("; "); at != std::string::npos;
       at = receivedCookies.find("; ", at + 2)) {
    ++separators;
  }
  FUZZ_CHECK(cookieLines > 0 || receivedCookies.empty(), what);
  FUZZ_CHECK(separators >= cookieLines - 1, what + " cookies " + Escaped(receivedCookies) +
                                                " from " + std::to_string(cookieLines));
  return 0;
}
