#include "app/program.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <chrono>
#include <string>
#include <utility>

#include "app/constants.h"
#include "app/sign_in_window.h"
#include "app/toolkit/toolkit.h"
#include "app/windows.h"
#include "search/current_constants.h"
#include "search/market.h"
#include "web/cookie_store.h"

// Resources compiled into a static library have to be registered by name.
static void RegisterResources() { Q_INIT_RESOURCE(zemlaro); }

namespace zemlaro::app {
namespace {

// What loading the store at start-up found wrong, and whether a notice told it.
StoreProblem& LoadProblem() {
  static StoreProblem problem = StoreProblem::None;
  return problem;
}
bool& LoadProblemTold() {
  static bool told = false;
  return told;
}

std::string& ProgramStorePath() {
  static std::string path;
  return path;
}

std::string SettingsPathBeside(const std::string& storePath) {
  const std::size_t slash = storePath.rfind('/');
  if (storePath.empty() || slash == std::string::npos) return {};
  return storePath.substr(0, slash + 1) + kSettingsFileName;
}

}  // namespace

AppConfig DefaultConfig() {
  AppConfig config;
  config.hosts = {kSearchHost, kItemHost};
  config.contact = {kGroupLinkHost, kQQMailHost};
  config.currentHost = kCurrentServiceHost;
  config.cookieStorePath = DefaultCookieStorePath();
  config.settingsPath = SettingsPathBeside(config.cookieStorePath);
  return config;
}

StoreProblem TakeStoreProblem() {
  if (std::exchange(LoadProblemTold(), true)) return StoreProblem::None;
  return LoadProblem();
}

bool StoreWritable() {
  return !ProgramStorePath().empty() &&
         (LoadProblem() == StoreProblem::None || LoadProblem() == StoreProblem::Malformed);
}

void PrepareApplication() {
  // Linked in for the browser windows, Qt WebEngine makes a shared OpenGL context as
  // the application starts, and making it loads the GL driver (Mesa, and LLVM with
  // it): tens of megabytes mapped and relocated before the main window shows, for
  // browsers that may never open. No window of the program needs OpenGL, so the
  // platform gets no GL integration (that context then fails at once, loading
  // nothing), and the browsers' Qt Quick scene draws in software, with Chromium
  // compositing in software too. The two go together: a browser on X11 with no GL
  // integration and a GL scene crashes as it opens. A value set in the environment
  // is kept.
  if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION")) qputenv("QT_XCB_GL_INTEGRATION", "none");
  if (!qEnvironmentVariableIsSet("QT_QPA_OFFSCREEN_NO_GLX"))
    qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  // Qt WebEngine asks for shared contexts before the application object exists.
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
  ProgramStorePath() = config.cookieStorePath;
  TrustForSignIn(config.extraCaFile);
  if (!config.cookieStorePath.empty()) {
    LoadProblem() = LoadCookieStore(config.cookieStorePath).problem;
  }
  toolkit::SetLastWindowGoneHandler([] {
    toolkit::BeginStopping();
    QCoreApplication::quit();
  });
  if (toolkit::LoadWindow(MainWindowLayout(config)).isNull()) {
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
  // A file that was not read as it should have been is left as it is.
  if (StoreWritable()) SaveCookieStore(ProgramStorePath());
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
