#include "app/windows.h"

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QWebEngineView>
#include <cstdint>
#include <limits>
#include <memory>

#include "app/browser.h"
#include "app/constants.h"
#include "app/contact.h"
#include "app/list_export.h"
#include "app/list_menu.h"
#include "app/object_names.h"
#include "app/run_notice.h"
#include "app/search_view.h"
#include "app/settings.h"
#include "app/sign_in_window.h"
#include "app/toolkit/events.h"
#include "app/utf8_text.h"
#include "search/current_constants.h"
#include "search/search_page.h"
#include "web/cookie_store.h"
#include "web/program_session.h"

namespace zemlaro::app {
namespace {

// The embedded browser of the group-join and feedback windows.
constexpr char kBrowserName[] = "超文本浏览框1";

// A fixed frame with title bar, system menu, minimise and close, no maximise; no
// owner, so each window has its own taskbar button.
QWidget* NewWindow(const char* name, const char* caption) {
  auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                          Qt::WindowCloseButtonHint);
  window->setObjectName(U(name));
  window->setWindowTitle(U(caption));
  toolkit::CloseOnEscape(window);
  return window;
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(U(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* NewLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = Place(new QLabel(U(text), parent), name, left, top, 112, 32);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QLineEdit* NewEdit(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* edit = Place(new QLineEdit(U(text), parent), name, left, top, 112, 40);
  edit->setMaxLength(std::numeric_limits<int>::max());  // no length limit
  toolkit::HideSelectionWithoutFocus(edit);
  return edit;
}

QGroupBox* NewGroup(QWidget* parent, const char* name, const char* title, int left, int top,
                    int width, int height) {
  auto* group = Place(new QGroupBox(U(title), parent), name, left, top, width, height);
  group->setAlignment(Qt::AlignLeft);
  return group;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                       int width) {
  auto* button = Place(new QPushButton(U(caption), parent), name, left, top, width, 48);
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

// The search address of the keyword in the box: the service sends a client that is
// not signed in from there to its login page.
QString SignInStartAddress(const AppConfig& config, const toolkit::Control& keyword) {
  return QString::fromStdString(
      BuildSearchUrl(toolkit::ControlText(keyword), 1, config.hosts.search));
}

SearchSetup SetupOf(const AppConfig& config) {
  SearchSetup setup;
  const bool legacy = UseLegacyService(config.settingsPath, config.legacyService);
  setup.service = legacy ? SearchService::Legacy : SearchService::Current;
  setup.hosts = {legacy ? config.hosts.search : config.currentHost, config.hosts.item};
  setup.pacing = config.pacing;
  setup.storedToken = [] { return CookieValue(kCurrentTokenCookie); };
  return setup;
}

// After the caption is back: one notice for the pages that gave nothing for a reason
// the user can act on.
void TellHowTheRunWent(QWidget* window, const std::vector<PageReport>& reports,
                       const AppConfig& config, const toolkit::Control& keyword) {
  const QString text = RunNoticeText(reports, TakeStoreProblem());
  if (text.isEmpty() || !window) return;
  std::string asked;
  std::function<void()> signIn;
  if (SignInAsked(reports, &asked)) {
    signIn = [config, keyword, asked] {
      OpenSignInWindow(
          asked.empty() ? SignInStartAddress(config, keyword) : QString::fromStdString(asked),
          config.cookieStorePath);
    };
  }
  ShowRunNotice(window, text, signIn);
}

QWidget* CreateMainWindow(const AppConfig& config) {
  QWidget* window = NewWindow(kMainWindowName, "");
  window->setWindowTitle(toolkit::ToQString(MainCaption()));

  QTableView* list = toolkit::CreateReportList(window, U(kResultList),
                                               {{U(kListHeaderNumber), 50},
                                                {U(kListHeaderTitle), 200},
                                                {U(kListHeaderItemId), 100},
                                                {U(kListHeaderSeller), 100}});
  list->setGeometry(8, 8, 472, 312);
  NewLabel(window, "透明标签1", kKeywordLabel, 488, 8);
  QLineEdit* keyword = NewEdit(window, kKeywordBox, "", 488, 35);
  NewLabel(window, "透明标签2", kPageCountLabel, 488, 80);
  QLineEdit* pageCount = NewEdit(window, kPageCountBox, kPageCountInitial, 488, 107);
  QPushButton* find = NewButton(window, kFindButton, kFindCaption, 482, 152, 120);
  NewLabel(window, "透明标签3", kSellerLabel, 488, 201);
  QLineEdit* seller = NewEdit(window, kSellerBox, "", 488, 228);
  QPushButton* filter = NewButton(window, kFilterButton, kFindCaption, 482, 272, 120);

  QGroupBox* others = NewGroup(window, kOthersGroup, kOthersTitle, 8, 324, 592, 148);
  QPushButton* chat = NewButton(others, kChatButton, kChatCaption, 8, 20, 104);
  QPushButton* group = NewButton(others, kGroupJoinButton, kGroupCaption, 120, 20, 104);
  QPushButton* feedback = NewButton(others, kFeedbackButton, kFeedbackCaption, 232, 20, 104);
  QPushButton* sponsor = NewButton(others, kSponsorButton, kSponsorCaption, 345, 20, 104);
  auto* instructions = Place(new QPlainTextEdit(others), kInstructionsBox, 8, 76, 576, 64);
  instructions->setReadOnly(true);
  instructions->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  instructions->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  instructions->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  instructions->setPlainText(U(kInstructions));
  toolkit::HideSelectionWithoutFocus(instructions);
  keyword->setFocus();

  auto state = std::make_shared<MainWindowState>();
  const MainWindowControls controls{window, list, keyword, pageCount, seller};
  QObject::connect(window, &QObject::destroyed, [state] { state->Close(); });

  // While a search runs both Find buttons do nothing: a second run or the filter
  // would address rows the first run is still numbering.
  QObject::connect(find, &QPushButton::clicked, window, [state, controls, config] {
    if (state->runningSearch != 0) return;
    const int run = ++state->lastSearch;
    state->runningSearch = run;
    auto view = std::make_shared<WindowSearchView>(controls, state, run);
    SessionSettings settings = config.sessionLimits;
    settings.cancel = &state->closed;  // `state` lives as long as the worker holds `view`
    toolkit::StartThread([view, state, settings, setup = SetupOf(config), config, controls] {
      // Null only where the platform cannot trust an extra CA file (the demo's, on
      // Windows): the run then ends with no rows.
      const std::unique_ptr<InternetSession> session =
          MakeProgramSession(settings, config.extraCaFile, nullptr);
      if (session) RunSearch(*view, *session, setup);
      view->EndRun();
      // What the service set during the run is kept for the next.
      if (StoreWritable()) SaveCookieStore(config.cookieStorePath);
      if (view->Stopped()) return;
      toolkit::RunStep([&] {
        const std::vector<PageReport> reports = view->Reports();
        QMetaObject::invokeMethod(
            qApp,
            [window = controls.window, reports, config, keyword = controls.keyword] {
              TellHowTheRunWent(window, reports, config, keyword);
            },
            Qt::QueuedConnection);
      });
    });
  });
  QObject::connect(filter, &QPushButton::clicked, window, [state, controls] {
    if (state->runningSearch != 0) return;
    WindowSearchView view(controls, state);
    FilterBySeller(view);
  });
  toolkit::HookEvents(list->viewport(),
                      [state, controls, hosts = config.hosts](QObject*, QEvent* event) {
                        if (event->type() == QEvent::MouseButtonDblClick &&
                            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                          WindowSearchView view(controls, state);
                          OpenItemPage(view, hosts);
                        }
                        return false;
                      });

  ListMenuActions menu;
  menu.copy = [list] { CopySelectedRows(list); };
  menu.exportAll = [window, list] { ExportAllRows(window, list); };
  menu.signIn = [config, keyword = controls.keyword] {
    OpenSignInWindow(SignInStartAddress(config, keyword), config.cookieStorePath);
  };
  menu.signOut = [path = config.cookieStorePath] { SignOut(path); };
  menu.legacyService = [config] {
    return UseLegacyService(config.settingsPath, config.legacyService);
  };
  menu.setLegacyService = [path = config.settingsPath](bool on) { SetUseLegacyService(path, on); };
  InstallListMenu(list, menu);

  QObject::connect(chat, &QPushButton::clicked, window, [] { OpenAuthorChat(); });
  QObject::connect(group, &QPushButton::clicked, window, [contact = config.contact] {
    // Queued, so that the wait inside runs from the event loop and not from inside
    // this button's click: the main window may be closed during the wait.
    QMetaObject::invokeMethod(
        qApp, [contact] { JoinUpdateGroup(1, contact); }, Qt::QueuedConnection);
  });
  QObject::connect(feedback, &QPushButton::clicked, window,
                   [contact = config.contact] { ShowFeedbackPage(std::nullopt, contact); });
  QObject::connect(sponsor, &QPushButton::clicked, window, [] { ShowSponsorWindow(); });
  return window;
}

QWidget* NewBrowserWindow(const char* name, const char* caption, const QRect& browser) {
  QWidget* window = NewWindow(name, caption);
  CreateBrowser(window, U(kBrowserName), browser);
  return window;
}

QWidget* CreateGroupJoinWindow() {
  return NewBrowserWindow(kGroupJoinWindowName, kGroupJoinWindowCaption, QRect(8, 8, 360, 208));
}

QWidget* CreateFeedbackWindow() {
  return NewBrowserWindow(kFeedbackWindowName, kFeedbackWindowCaption, QRect(8, 8, 584, 448));
}

void AddPicture(QWidget* window, const char* groupName, const char* title, int left,
                const char* pictureName, const char* resource) {
  QGroupBox* group = NewGroup(window, groupName, title, left, 8, 336, 392);
  auto* picture = Place(new QLabel(group), pictureName, 8, 24, 320, 360);
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Decoded now, when the window is made, and placed by our own rule rather than
  // by the label's centring.
  const QImage image(U(resource));
  if (image.isNull()) return;
  const QRect place = PicturePlace(image.size(), picture->size());
  QPixmap canvas(picture->size());
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.drawImage(place.topLeft(), place.size() == image.size()
                                         ? image
                                         : image.scaled(place.size(), Qt::IgnoreAspectRatio,
                                                        Qt::SmoothTransformation));
  painter.end();
  picture->setPixmap(canvas);
}

QWidget* CreateSponsorWindow() {
  QWidget* window = NewWindow(kSponsorWindowName, kSponsorWindowCaption);
  AddPicture(window, kWeChatPayGroup, kWeChatPayTitle, 8, kWeChatPayPicture, kWeChatPayResource);
  AddPicture(window, kAlipayGroup, kAlipayTitle, 360, kAlipayPicture, kAlipayResource);
  return window;
}

}  // namespace

toolkit::WindowLayout MainWindowLayout(const AppConfig& config) {
  return {kMainWindowName, [config] { return CreateMainWindow(config); }, kMainWindowSize, true};
}

const toolkit::WindowLayout& GroupJoinWindow() {
  static const toolkit::WindowLayout layout{kGroupJoinWindowName, &CreateGroupJoinWindow,
                                            kGroupJoinWindowSize, false};
  return layout;
}

const toolkit::WindowLayout& FeedbackWindow() {
  static const toolkit::WindowLayout layout{kFeedbackWindowName, &CreateFeedbackWindow,
                                            kFeedbackWindowSize, true};
  return layout;
}

const toolkit::WindowLayout& SponsorWindow() {
  static const toolkit::WindowLayout layout{kSponsorWindowName, &CreateSponsorWindow,
                                            kSponsorWindowSize, true};
  return layout;
}

toolkit::Browser BrowserOf(const toolkit::Window& window) {
  toolkit::Browser browser;
  toolkit::RunStep([&] {
    if (window) browser = window->findChild<QWebEngineView*>(U(kBrowserName));
  });
  return browser;
}

QSize ScaledPictureSize(QSize picture, QSize box) {
  if (picture.isEmpty() || box.isEmpty()) return {0, 0};
  if (picture.width() <= box.width() && picture.height() <= box.height()) return picture;
  const std::int64_t pw = picture.width(), ph = picture.height();
  const std::int64_t bw = box.width(), bh = box.height();
  // bw / pw <= bh / ph, compared without division: the width sets the scale.
  if (bw * ph <= bh * pw) return QSize(box.width(), static_cast<int>(ph * bw / pw));
  return QSize(static_cast<int>(pw * bh / ph), box.height());
}

QRect PicturePlace(QSize picture, QSize box) {
  const QSize drawn = ScaledPictureSize(picture, box);
  return QRect(QPoint((box.width() - drawn.width()) / 2, (box.height() - drawn.height()) / 2),
               drawn);
}

}  // namespace zemlaro::app
