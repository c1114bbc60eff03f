#include "app/contact.h"

#include "app/constants.h"
#include "app/delay.h"
#include "app/windows.h"
#include "text/text.h"

namespace zemlaro::app {
namespace {

bool gJoining = false;

Text NumberText(std::optional<std::int64_t> qq) {
  return qq.has_value() ? FormatInteger(*qq) : Text(kAuthorQQ);
}

}  // namespace

void OpenAuthorChat(std::optional<std::int64_t> qq) {
  toolkit::OpenAddress(JoinTexts({kChatAddressHead, NumberText(qq), kChatAddressTail}));
}

void JoinUpdateGroup(std::optional<int> selector, const ContactHosts& hosts) {
  if (gJoining) return;
  gJoining = true;
  const toolkit::Window window = toolkit::LoadWindow(GroupJoinWindow());
  const char* key = selector.has_value() ? kSecondGroupKey : kFirstGroupKey;
  toolkit::BrowserNavigate(BrowserOf(window),
                           JoinTexts({"https://", hosts.groupLink, kGroupLinkPath, key}));
  DelayWithoutBlocking(kGroupJoinSeconds, 1);
  toolkit::UnloadWindow(GroupJoinWindow());
  gJoining = false;
}

bool JoinInProgress() { return gJoining; }

void ShowFeedbackPage(std::optional<std::int64_t> qq, const ContactHosts& hosts) {
  const toolkit::Window window = toolkit::LoadWindow(FeedbackWindow());
  const Text mail = JoinTexts({NumberText(qq), "@", kQQMailDomain});
  toolkit::BrowserNavigate(BrowserOf(window),
                           JoinTexts({"http://", hosts.mail, kMailPagePath, mail}));
}

void ShowSponsorWindow() { toolkit::LoadWindow(SponsorWindow()); }

}  // namespace zemlaro::app
