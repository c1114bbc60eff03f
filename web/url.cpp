#include "web/url.h"

namespace zemlaro {

namespace {

// The host between the first scheme marker and the next "/"; an address without
// any "http://" in it counts as a plain one.
Text HostBySchemeMarker(Text s, bool domainOnly) {
  if (RightPart(s, 1) != "/") s += "/";
  if (LeftPart(s, 8) == "https://") {
    s = TextBetween(s, "https://", "/");
  } else {
    if (FindForward(s, "http://") == -1) s = "http://" + s;
    s = TextBetween(s, "http://", "/");
  }
  if (domainOnly) {
    const TextArray parts = SplitOn(s, ".");
    const int count = CountOf(parts);
    if (count >= 2) s = JoinTexts({parts.Item(count - 1), ".", parts.Item(count)});
  }
  return s;
}

// The host cut down to its last labels, counted back from its end.
Text HostByLevels(Text s, bool domainOnly, int extraLevels) {
  s = Substitute(s, "http://", "");
  s = Substitute(s, "https://", "");
  const int slash = FindForward(s, "/");
  if (slash != -1) s = LeftPart(s, slash - 1);
  const int n = LengthOf(s);
  int h = n;
  // Once no dot is left, further levels change nothing; stop there.
  for (int i = 0; i < extraLevels && h != -1; ++i) h = FindBackward(s, ".", h);
  const int last = FindBackward(s, ".", h);
  if (domainOnly) return RightPart(s, n - last);
  if (last != -1) {
    const int before = FindBackward(s, ".", last);
    if (before != -1) s = RightPart(s, n - before);
  }
  return s;
}

}  // namespace

Text UrlHost(std::string_view url, bool domainOnly, bool keepPort, std::optional<int> extraLevels) {
  Text s = LowerAscii(url);
  s = extraLevels ? HostByLevels(std::move(s), domainOnly, *extraLevels)
                  : HostBySchemeMarker(std::move(s), domainOnly);
  if (!keepPort) {
    const int colon = FindForward(s, ":");
    if (colon != -1) s = LeftPart(s, colon - 1);
  }
  return s;
}

int UrlPort(std::string_view url) {
  const Text host = UrlHost(url, false, true);
  const int colon = FindBackward(host, ":");
  if (colon == -1) return LeftPart(LowerAscii(url), 5) == "https" ? 443 : 80;
  return ParseInteger(RightPart(host, LengthOf(host) - colon));
}

Text UrlPath(std::string_view url) {
  const Text host = UrlHost(url);
  const int hostAt = FindForward(url, host, 1, true);
  const int slash = FindForward(url, "/", hostAt, true);
  if (slash == -1) return "/";
  return RightPart(url, LengthOf(url) - slash + 1);
}

}  // namespace zemlaro
