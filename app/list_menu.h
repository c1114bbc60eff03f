// The result list's context menu: copy, export, sign-in and sign-out, and the choice
// of the search service. Window thread only.
#pragma once

#include <functional>

class QMenu;
class QTableView;

namespace zemlaro::app {

struct ListMenuActions {
  std::function<void()> copy;  // also Ctrl+C on the list
  std::function<void()> exportAll;
  std::function<void()> signIn;
  std::function<void()> signOut;
  std::function<bool()> legacyService;  // the checkable entry's state
  std::function<void(bool)> setLegacyService;
};

// Right-click on the list opens the menu.
void InstallListMenu(QTableView* list, ListMenuActions actions);
// The menu as it opens now (tests and the screenshot tool).
QMenu* BuildListMenu(QTableView* list, const ListMenuActions& actions);

}  // namespace zemlaro::app
