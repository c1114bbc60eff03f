// The contact actions behind 按钮3 to 按钮6. They run on the window thread.
#pragma once

#include <cstdint>
#include <optional>

#include "app/program.h"

namespace zemlaro::app {

// Hands "tencent://message/?uin=" + number + "&Site=&menu=yes" to the desktop; the
// author's number when none is given.
void OpenAuthorChat(std::optional<std::int64_t> qq = std::nullopt);

// Loads the hidden group-join window on the invitation link (the second group's key
// when a selector is given, else the first's), keeps it 4 s while every window keeps
// working, and unloads it. A call while a join is under way does nothing, so each
// load is matched by exactly one unload.
void JoinUpdateGroup(std::optional<int> selector, const ContactHosts& hosts);
bool JoinInProgress();

// Shows the feedback window (or brings it forward) and loads the QQ Mail page for
// writing to `qq` at the QQ mail domain, the author when none is given.
void ShowFeedbackPage(std::optional<std::int64_t> qq, const ContactHosts& hosts);

// Shows the sponsor window, or brings it forward.
void ShowSponsorWindow();

}  // namespace zemlaro::app
