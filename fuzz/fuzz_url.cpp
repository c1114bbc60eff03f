// UrlHost, UrlPort and UrlPath on any text, checked for consistency with one
// another. The input is the address (zero bytes dropped).
#include <cstdint>
#include <string>

#include "check.h"
#include "reference.h"
#include "web/url.h"

namespace {

using zemlaro::fuzz::Escaped;
namespace ref = zemlaro::fuzz::ref;

bool IsAsciiDigit(unsigned char b) { return b >= '0' && b <= '9'; }

// The host without its port is the host with it, cut before the first ":".
void CheckPortCut(const std::string& withPort, const std::string& withoutPort,
                  const std::string& what) {
  const int colon = ref::FindForward(withPort, ":", std::nullopt, false);
  const std::string expected = colon == -1 ? withPort : ref::LeftPart(withPort, colon - 1);
  FUZZ_CHECK(withoutPort == expected,
             what + " host " + Escaped(withoutPort) + " with port " + Escaped(withPort));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url = zemlaro::fuzz::WithoutZeros(data, size);
  const std::string what = "url " + Escaped(url);
  const std::string lowered = ref::LowerAscii(url);

  const std::string host = zemlaro::UrlHost(url);
  const std::string hostPort = zemlaro::UrlHost(url, false, true);
  const std::string domain = zemlaro::UrlHost(url, true, false);
  const std::string domainPort = zemlaro::UrlHost(url, true, true);
  const int port = zemlaro::UrlPort(url);
  const std::string path = zemlaro::UrlPath(url);

  // Hosts: lower case, the port cut at the first ":", the domain a piece of the host.
  FUZZ_CHECK(ref::LowerAscii(hostPort) == hostPort, what + " host " + Escaped(hostPort));
  CheckPortCut(hostPort, host, what);
  CheckPortCut(domainPort, domain, what);
  FUZZ_CHECK(hostPort.find(domainPort) != std::string::npos,
             what + " domain " + Escaped(domainPort) + " host " + Escaped(hostPort));
  FUZZ_CHECK(zemlaro::UrlHost(lowered, false, true) == hostPort, what);
  FUZZ_CHECK(zemlaro::UrlPort(lowered) == port, what);
  // The host is found in the address, whatever its letter case there.
  FUZZ_CHECK(host.empty() || ref::FindForward(url, host, 1, true) != -1,
             what + " host " + Escaped(host));

  // Path: "/" or the address from a "/" to its end.
  FUZZ_CHECK(path == "/" || (path.starts_with('/') && url.ends_with(path)),
             what + " path " + Escaped(path));
  if (url.find('/') == std::string::npos) FUZZ_CHECK(path == "/", what + " path " + Escaped(path));

  // Port: the default of the scheme without a ":" in the host, else the number after
  // the last ":".
  const int lastColon = ref::FindBackward(hostPort, ":", std::nullopt, false);
  if (lastColon == -1) {
    FUZZ_CHECK(port == (lowered.starts_with("https") ? 443 : 80),
               what + " port " + std::to_string(port));
  } else {
    const std::string rest = hostPort.substr(static_cast<std::size_t>(lastColon));
    std::size_t digits = 0;
    while (digits < rest.size() && IsAsciiDigit(static_cast<unsigned char>(rest[digits]))) ++digits;
    const bool plainEnd = digits == rest.size() || static_cast<unsigned char>(rest[digits]) != 0xA3;
    if (digits >= 1 && digits <= 9 && plainEnd) {
      FUZZ_CHECK(port == std::stoi(rest.substr(0, digits)),
                 what + " port " + std::to_string(port) + " after " + Escaped(rest));
    }
    if (rest.empty() || (rest[0] >= 'a' && rest[0] <= 'z') || rest[0] == '/' || rest[0] == ':') {
      FUZZ_CHECK(port == 0, what + " port " + std::to_string(port) + " after " + Escaped(rest));
    }
  }

  // Cut down by labels: a negative count is none, and one level more with
  // domainOnly is the same as one level less without it.
  for (const bool keepPort : {false, true}) {
    for (const bool domainOnly : {false, true}) {
      FUZZ_CHECK(zemlaro::UrlHost(url, domainOnly, keepPort, -1) ==
                     zemlaro::UrlHost(url, domainOnly, keepPort, 0),
                 what);
    }
    std::string previous = zemlaro::UrlHost(url, false, keepPort, 0);
    for (int levels = 0; levels <= 4; ++levels) {
      const std::string wider = zemlaro::UrlHost(url, false, keepPort, levels + 1);
      FUZZ_CHECK(zemlaro::UrlHost(url, true, keepPort, levels + 1) == previous,
                 what + " levels " + std::to_string(levels) + " host " + Escaped(previous));
      // More levels keep a longer end; with the port cut this need not hold, as the
      // cut falls at the first ":" of whatever is kept.
      if (keepPort) {
        FUZZ_CHECK(wider.ends_with(previous), what + " levels " + std::to_string(levels) + " " +
                                                  Escaped(previous) + " and " + Escaped(wider));
      }
      previous = wider;
    }
  }
  return 0;
}
