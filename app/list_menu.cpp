#include "app/list_menu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QTableView>

#include "app/constants.h"
#include "app/utf8_text.h"

namespace zemlaro::app {

QMenu* BuildListMenu(QTableView* list, const ListMenuActions& actions) {
  auto* menu = new QMenu(list);
  menu->setObjectName(QStringLiteral("列表菜单"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* copy = menu->addAction(U(kCopyAction), actions.copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(list->selectionModel() && list->selectionModel()->hasSelection());
  QAction* exportAll = menu->addAction(U(kExportAction), actions.exportAll);
  exportAll->setEnabled(list->model() && list->model()->rowCount() > 0);
  menu->addSeparator();
  menu->addAction(U(kSignInAction), actions.signIn);
  menu->addAction(U(kSignOutAction), actions.signOut);
  menu->addSeparator();
  QAction* legacy = menu->addAction(U(kLegacyServiceAction));
  legacy->setCheckable(true);
  legacy->setChecked(actions.legacyService());
  QObject::connect(legacy, &QAction::toggled, menu,
                   [set = actions.setLegacyService](bool on) { set(on); });
  return menu;
}

void InstallListMenu(QTableView* list, ListMenuActions actions) {
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(list, &QWidget::customContextMenuRequested, list, [list, actions](QPoint at) {
    BuildListMenu(list, actions)->popup(list->viewport()->mapToGlobal(at));
  });
  auto* copy = new QAction(list);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  QObject::connect(copy, &QAction::triggered, list, [run = actions.copy] { run(); });
  list->addAction(copy);
}

}  // namespace zemlaro::app
