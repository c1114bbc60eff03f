#include "app/program.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <chrono>

#include "app/constants.h"
#include "app/toolkit/toolkit.h"
#include "app/windows.h"
#include "search/market.h"

// Resources compiled into a static library have to be registered by name.
static void RegisterResources() { Q_INIT_RESOURCE(zemlaro); }

namespace zemlaro::app {
namespace {

// Lives as long as the program: the loaded-window registry keys on its address.
toolkit::WindowLayout& MainLayout() {
  static toolkit::WindowLayout layout;
  return layout;
}

}  // namespace

AppConfig DefaultConfig() { return {{kSearchHost, kItemHost}, {kGroupLinkHost, kQQMailHost}, {}}; }

void PrepareApplication() {
  // Qt WebEngine shares OpenGL contexts with the windows; this must be set before
  // the application object exists, even though the first browser comes much later.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void PrepareToolkit() {
  RegisterResources();
  toolkit::InitToolkit();
  // The program runs while any of its windows is loaded, shown or not; the toolkit
  // keeps that count.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QString::fromUtf8(kIconResource)));
}

bool StartProgram(const AppConfig& config) {
  PrepareToolkit();
  toolkit::SetLastWindowGoneHandler([] {
    toolkit::BeginStopping();
    QCoreApplication::quit();
  });
  MainLayout() = MainWindowLayout(config);
  if (toolkit::LoadWindow(MainLayout()).isNull()) {
    QMessageBox::critical(nullptr, QString::fromUtf8(kProductName),
                          QString::fromUtf8(kStartFailedMessage));
    return false;
  }
  return true;
}

int RunProgramLoop() {
  QApplication::exec();
  toolkit::BeginStopping();
  // Should the loop have ended with windows still loaded, they go now; that stops
  // their searches, and a transfer under way aborts.
  toolkit::DestroyAllWindows();
  toolkit::WaitForWorkers(std::chrono::seconds(10));
  return 0;
}

int RunProgram(const AppConfig& config) {
  PrepareApplication();
  // The program takes nothing from its command line; Qt gets only a program name.
  static char name[] = "zemlaro";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  QApplication application(argc, argv);
  if (!StartProgram(config)) return 1;
  return RunProgramLoop();
}

}  // namespace zemlaro::app
