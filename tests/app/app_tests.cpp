// The desktop program under the offscreen platform, against sample markets on
// 127.0.0.1. One executable; each test class covers one area.
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "app/constants.h"
#include "app/contact.h"
#include "app/delay.h"
#include "app/object_names.h"
#include "app/program.h"
#include "app/search_view.h"
#include "app/toolkit/toolkit.h"
#include "app/utf8_text.h"
#include "app/windows.h"
#include "search/search_run.h"
#include "text/codepage.h"
#include "text/process_events.h"
#include "tools/sample-market/market_server.h"

using namespace zemlaro;
using namespace zemlaro::app;

namespace {

int gLastWindowGone = 0;

template <typename T = QWidget>
T* Child(QWidget* window, const char* name) {
  return window ? window->findChild<T*>(U(name)) : nullptr;
}

// The progress caption written out by hand, not through the code under test.
QString Progress(int page) { return U("正在获取宝贝数据 第%1页···").arg(page); }
QString StartCaption() { return U("Zemlaro   QQ：") + U(kAuthorQQ); }

QAbstractItemModel* ModelOf(QWidget* window) {
  auto* list = Child<QTableView>(window, kResultList);
  return list ? list->model() : nullptr;
}

QString Cell(QWidget* window, int row, int column) {
  QAbstractItemModel* model = ModelOf(window);
  return model->index(row, column).data().toString();
}

void SetText(QWidget* window, const char* name, const QString& text) {
  Child<QLineEdit>(window, name)->setText(text);
}

void Click(QWidget* window, const char* name) {
  QTest::mouseClick(Child<QPushButton>(window, name), Qt::LeftButton);
}

// The market has recorded the legacy search's request for the page, among the
// requests after the first `from`.
bool RequestedPage(const market::SampleMarket& market, int page, std::size_t from) {
  const std::string offset = "data-value=" + std::to_string((page - 1) * 44);
  const std::vector<market::RecordedRequest> requests = market.Requests();
  for (std::size_t i = from; i < requests.size(); ++i) {
    const market::RecordedRequest& request = requests[i];
    const std::size_t at = request.target.find(offset);
    if (at == std::string::npos) continue;
    const std::size_t end = at + offset.size();
    if (end == request.target.size() || request.target[end] == '&') return true;
  }
  return false;
}

market::MarketOptions PlainHttp() {
  market::MarketOptions options;
  options.tls = false;
  return options;
}

// Pixels that differ from the top-left corner colour (the box's background).
QRect DrawnArea(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  const QRgb background = image.pixel(0, 0);
  QRect area;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) != background) area |= QRect(x, y, 1, 1);
    }
  }
  return area;
}

// JPEG markers up to the first frame header: {marker, width, height, components}.
struct FrameHeader {
  int marker = 0, width = 0, height = 0, components = 0;
};
FrameHeader JpegFrame(const QByteArray& jpeg) {
  const auto* b = reinterpret_cast<const unsigned char*>(jpeg.constData());
  qsizetype at = 2;
  while (at + 10 <= jpeg.size() && b[at] == 0xFF) {
    const int marker = b[at + 1];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      return {marker, (b[at + 7] << 8) | b[at + 8], (b[at + 5] << 8) | b[at + 6], b[at + 9]};
    }
    at += 2 + ((b[at + 2] << 8) | b[at + 3]);
  }
  return {};
}

}  // namespace

// Records what is handed to the desktop instead of opening it.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

// ---------------------------------------------------------------------------------
// Pure rules: the delay's arithmetic, picture scaling, centring, the resources.

class RulesTest : public QObject {
  Q_OBJECT
 private slots:
  void delayDueTime_data() {
    QTest::addColumn<int>("amount");  // -1000 stands for "omitted"
    QTest::addColumn<int>("unit");    // -1000 stands for "omitted"
    QTest::addColumn<qint64>("due");
    QTest::addColumn<qint64>("milliseconds");
    constexpr int omitted = -1000;
    QTest::newRow("four seconds") << 4 << 1 << qint64(-40000000) << qint64(4000);
    QTest::newRow("omitted amount and unit: about 10,000 years")
        << omitted << omitted << qint64(-3240000000000000000) << qint64(324000000000000);
    QTest::newRow("omitted amount, unit 0 given")
        << omitted << 0 << qint64(-3240000000000000000) << qint64(324000000000000);
    QTest::newRow("omitted amount, unit 1 is a zero wait")
        << omitted << 1 << qint64(0) << qint64(0);
    QTest::newRow("zero amount: due time 0, no wait") << 0 << 1 << qint64(0) << qint64(0);
    QTest::newRow("negative amount: past, no wait") << -5 << 0 << qint64(50000) << qint64(0);
    QTest::newRow("unit 5 is the multiplier") << 100 << 5 << qint64(-5000000) << qint64(500);
    QTest::newRow("minutes") << 2 << 2 << qint64(-1200000000) << qint64(120000);
    QTest::newRow("1,000 hours") << 1000 << 3 << qint64(-36000000000000) << qint64(3600000000);
    QTest::newRow("past 64 bits saturates")
        << 2147483647 << 2147483647 << std::numeric_limits<qint64>::min()
        << qint64(922337203685478);
  }
  void delayDueTime() {
    QFETCH(int, amount);
    QFETCH(int, unit);
    QFETCH(qint64, due);
    QFETCH(qint64, milliseconds);
    auto given = [](int v) { return v == -1000 ? std::nullopt : std::optional<std::int32_t>(v); };
    QCOMPARE(DelayDueTime(given(amount), given(unit)), due);
    QCOMPARE(DelayMilliseconds(due), milliseconds);
  }

  void delayPastDueTimeReturnsWithoutDispatching() {
    // A due time at or after now never enters the event loop: a queued call stays queued.
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&] { ran = true; }, Qt::QueuedConnection);
    DelayWithoutBlocking(0, 1);
    DelayWithoutBlocking(-5, 0);
    QVERIFY(!ran);
    QCoreApplication::processEvents();
    QVERIFY(ran);
  }

  void delayDispatchesEventsAndNests() {
    // The order holds however late the timers fire on a busy machine: the outer wait
    // runs the timer that starts the inner one, the inner wait runs an event queued
    // just before it, and the outer wait, due meanwhile, ends only after the inner.
    QStringList order;
    QElapsedTimer clock;
    clock.start();
    qint64 innerTook = 0;
    QTimer::singleShot(50, [&] {
      order << QStringLiteral("inner starts");
      QTimer::singleShot(0, [&] { order << QStringLiteral("event during the inner wait"); });
      QElapsedTimer inner;
      inner.start();
      DelayWithoutBlocking(100, 0);
      innerTook = inner.elapsed();
      order << QStringLiteral("inner ends");
    });
    DelayWithoutBlocking(300, 0);
    order << QStringLiteral("outer ends");
    QCOMPARE(order, QStringList({QStringLiteral("inner starts"),
                                 QStringLiteral("event during the inner wait"),
                                 QStringLiteral("inner ends"), QStringLiteral("outer ends")}));
    QVERIFY(innerTook >= 100);
    QVERIFY(clock.elapsed() >= 300);
  }

  void scaledPictureSize_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QRect>("place");
    const QSize box(320, 360);
    QTest::newRow("WeChat Pay code") << QSize(1242, 1686) << box << QRect(27, 0, 265, 360);
    QTest::newRow("Alipay code") << QSize(600, 900) << box << QRect(40, 0, 240, 360);
    QTest::newRow("wide picture: width decides") << QSize(640, 90) << box << QRect(0, 157, 320, 45);
    QTest::newRow("truncated, not rounded") << QSize(1000, 19) << box << QRect(0, 177, 320, 6);
    QTest::newRow("smaller: never enlarged") << QSize(100, 51) << box << QRect(110, 154, 100, 51);
    QTest::newRow("exact fit") << box << box << QRect(0, 0, 320, 360);
    QTest::newRow("too tall only") << QSize(300, 720) << box << QRect(85, 0, 150, 360);
    QTest::newRow("empty picture") << QSize(0, 0) << box << QRect(160, 180, 0, 0);
  }
  void scaledPictureSize() {
    QFETCH(QSize, picture);
    QFETCH(QSize, box);
    QFETCH(QRect, place);
    QCOMPARE(ScaledPictureSize(picture, box), place.size());
    QCOMPARE(PicturePlace(picture, box), place);
  }

  void centredOrigin_data() {
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QPoint>("origin");
    QTest::newRow("full HD") << QSize(1920, 1080) << QPoint(653, 287);
    QTest::newRow("odd remainder dropped") << QSize(1025, 768) << QPoint(205, 131);
    QTest::newRow("smaller screen: negative") << QSize(600, 400) << QPoint(-7, -52);
    QTest::newRow("one pixel short: toward zero") << QSize(613, 504) << QPoint(0, 0);
  }
  void centredOrigin() {
    QFETCH(QSize, screen);
    QFETCH(QPoint, origin);
    QCOMPARE(toolkit::CentredOrigin(screen, kMainWindowSize), origin);
  }

  void resourcesAreBuiltIn() {
    const QImage icon(U(kIconResource));
    QCOMPARE(icon.size(), QSize(256, 256));
    QCOMPARE(icon.format(), QImage::Format_Indexed8);
    QVERIFY(!QApplication::windowIcon().isNull());

    struct Picture {
      const char* resource;
      int width, height;
    };
    for (const Picture& p :
         {Picture{kWeChatPayResource, 1242, 1686}, Picture{kAlipayResource, 600, 900}}) {
      QFile file(U(p.resource));
      QVERIFY(file.open(QIODevice::ReadOnly));
      const FrameHeader frame = JpegFrame(file.readAll());
      QCOMPARE(frame.marker, 0xC0);  // baseline
      QCOMPARE(frame.width, p.width);
      QCOMPARE(frame.height, p.height);
      QCOMPARE(frame.components, 3);
    }
  }
};

// ---------------------------------------------------------------------------------
// Toolkit operations, from the window thread and from a worker.

class ToolkitTest : public QObject {
  Q_OBJECT
 private slots:
  void listOperations() {
    QWidget parent;
    toolkit::List list =
        toolkit::CreateReportList(&parent, U("list"), {{U("a"), 50}, {U("b"), 50}});
    const Text nick = Utf8ToGbk("发个哈哈几个");
    QCOMPARE(toolkit::ListInsertRow(list, "1"), 0);
    QCOMPARE(toolkit::ListInsertRow(list, "2"), 1);
    QCOMPARE(toolkit::ListInsertRow(list, "3"), 2);
    toolkit::ListSetCell(list, 1, 1, nick);
    toolkit::ListSetCell(list, 7, 1, "missing row");
    toolkit::ListSetCell(list, 0, 9, "missing column");
    QCOMPARE(toolkit::ListRowCount(list), 3);
    QCOMPARE(toolkit::ListCellText(list, 1, 1), nick);
    QCOMPARE(list->model()->index(1, 1).data().toString(), U("发个哈哈几个"));
    QCOMPARE(toolkit::ListCellText(list, 7, 0), Text());
    QCOMPARE(toolkit::ListCellText(list, -1, 0), Text());

    toolkit::ListDeleteRow(list, 0);  // later rows move up
    QCOMPARE(toolkit::ListCellText(list, 0, 0), Text("2"));
    QCOMPARE(toolkit::ListCellText(list, 0, 1), nick);
    toolkit::ListDeleteRow(list, 5);
    QCOMPARE(toolkit::ListRowCount(list), 2);

    QCOMPARE(toolkit::ListSelectedRow(list), -1);
    list->selectRow(1);
    QCOMPARE(toolkit::ListSelectedRow(list), 1);
    list->selectRow(0);  // one row at most
    QCOMPARE(toolkit::ListSelectedRow(list), 0);

    QCOMPARE(toolkit::ListAppendRows(list, {{"x", "y", "dropped"}, {"z"}}), 2);
    QCOMPARE(toolkit::ListCellText(list, 2, 1), Text("y"));
    QCOMPARE(toolkit::ListCellText(list, 3, 1), Text());
    toolkit::ListClear(list);
    QCOMPARE(toolkit::ListRowCount(list), 0);
  }

  // Scattered rows go in one model change; the list, the table's rows and the
  // selection end as after ListDeleteRow for each row in turn.
  void deleteRowsAsOneByOne_data() {
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("selectedAfter");
    QTest::newRow("the selection moves up with its row")
        << QList<int>{6, 4, 1} << 5 << QStringList{U("0"), U("2"), U("3"), U("5"), U("7")} << 3;
    QTest::newRow("the selection goes with its row")
        << QList<int>{7, 5, 3, 0} << 3 << QStringList{U("1"), U("2"), U("4"), U("6")} << -1;
    QTest::newRow("rows past the end are skipped")
        << QList<int>{9, 7, 2} << 0 << QStringList{U("0"), U("1"), U("3"), U("4"), U("5"), U("6")}
        << 0;
    QTest::newRow("every row") << QList<int>{7, 6, 5, 4, 3, 2, 1, 0} << 4 << QStringList{} << -1;
  }
  void deleteRowsAsOneByOne() {
    QFETCH(QList<int>, rows);
    QFETCH(int, selected);
    QFETCH(QStringList, left);
    QFETCH(int, selectedAfter);
    QWidget parent;
    parent.resize(200, 300);
    auto* view = toolkit::CreateReportList(&parent, U("list"), {{U("n"), 50}, {U("x"), 50}});
    view->resize(200, 300);
    toolkit::List list = view;
    for (int row = 0; row < 8; ++row) {
      toolkit::ListInsertRow(list, toolkit::FromQString(QString::number(row)));
      toolkit::ListSetCell(list, row, 1, toolkit::FromQString(U("x") + QString::number(row)));
    }
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    view->selectRow(selected);

    toolkit::ListDeleteRows(list, std::vector<int>(rows.begin(), rows.end()));
    view->viewport()->repaint();  // a paint over the rows left

    QStringList numbers, seconds;
    for (int row = 0; row < toolkit::ListRowCount(list); ++row) {
      numbers << toolkit::ToQString(toolkit::ListCellText(list, row, 0));
      seconds << toolkit::ToQString(toolkit::ListCellText(list, row, 1));
    }
    QCOMPARE(numbers, left);
    for (int row = 0; row < left.size(); ++row) QCOMPARE(seconds[row], U("x") + left[row]);
    QCOMPARE(view->verticalHeader()->count(), left.size());
    QCOMPARE(toolkit::ListSelectedRow(list), selectedAfter);
    QCOMPARE(view->currentIndex().row(), selectedAfter);
  }

  void workerCallsRunOnTheWindowThread() {
    QWidget window;
    toolkit::List list = toolkit::CreateReportList(&window, U("list"), {{U("a"), 50}});
    toolkit::Control edit = new QLineEdit(U("编辑"), &window);
    std::atomic<bool> done{false};
    Text read;
    int count = -1;
    bool widgetThreadSeen = false;
    std::thread worker([&] {
      toolkit::ListInsertRow(list, "r0");
      toolkit::ListInsertRow(list, "r1");
      toolkit::SetCaption(toolkit::Window(&window), Utf8ToGbk("标题"));
      count = toolkit::ListRowCount(list);
      read = toolkit::ControlText(edit);
      toolkit::RunStep([&] { widgetThreadSeen = QThread::currentThread() == window.thread(); });
      done = true;
    });
    QTRY_VERIFY(done);
    worker.join();
    QCOMPARE(count, 2);
    QCOMPARE(read, Utf8ToGbk("编辑"));
    QCOMPARE(window.windowTitle(), U("标题"));
    QVERIFY(widgetThreadSeen);
  }

  void destroyedListGivesEmptyResults() {
    auto* window = new QWidget;
    toolkit::List list = toolkit::CreateReportList(window, U("list"), {{U("a"), 50}});
    toolkit::ListInsertRow(list, "r0");
    delete window;
    std::atomic<bool> done{false};
    int inserted = 0, count = -1;
    Text text = "unchanged";
    std::thread worker([&] {
      inserted = toolkit::ListInsertRow(list, "r1");
      count = toolkit::ListRowCount(list);
      text = toolkit::ListCellText(list, 0, 0);
      done = true;
    });
    QTRY_VERIFY(done);
    worker.join();
    QCOMPARE(inserted, -1);
    QCOMPARE(count, 0);
    QCOMPARE(text, Text());
  }

  void loadAfterUnloadMakesAFreshWindow() {
    int made = 0;
    const toolkit::WindowLayout layout{"测试窗口",
                                       [&made] {
                                         ++made;
                                         return new QWidget;
                                       },
                                       QSize(200, 100), true};
    gLastWindowGone = 0;
    QPointer<QWidget> first = toolkit::LoadWindow(layout).data();
    QVERIFY(first && first->isVisible());
    QCOMPARE(toolkit::LoadWindow(layout).data(), first.data());  // loaded: no second one
    const toolkit::WindowLayout sameId = layout;  // the registry goes by id, not by address
    QCOMPARE(toolkit::LoadedWindow(sameId).data(), first.data());
    toolkit::UnloadWindow(layout);
    QCOMPARE(toolkit::LoadedWindow(layout).data(), first.data());  // until the close runs
    QPointer<QWidget> second = toolkit::LoadWindow(layout).data();
    QVERIFY(first.isNull());
    QVERIFY(second);
    QCOMPARE(made, 2);
    QTest::qWait(50);  // the first window's close request, still queued, leaves this one be
    QVERIFY(second);
    QCOMPARE(toolkit::LoadedWindowCount(), 1);
    QCOMPARE(gLastWindowGone, 0);
    toolkit::UnloadWindow(layout);
    QTRY_VERIFY(second.isNull());
    QCOMPARE(gLastWindowGone, 1);
  }

  void processEventsDispatchesOnlyOnTheWindowThread() {
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&] { ran = true; }, Qt::QueuedConnection);
    std::thread([] { zemlaro::ProcessEvents(); }).join();
    QVERIFY(!ran);
    zemlaro::ProcessEvents();  // the hook the toolkit installed
    QVERIFY(ran);
  }
};

// ---------------------------------------------------------------------------------
// The main window against a sample market.

class MainWindowTest : public QObject {
  Q_OBJECT
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
      shownWindows_ << watched->objectName();
    }
    return false;
  }

 private slots:
  void initTestCase() {
    QVERIFY(market_.Start());
    QVERIFY(pages_.Start());
    config_ = DefaultConfig();
    config_.hosts.search = market_.HostAndPort();
    config_.extraCaFile = market_.CaFile();
    // These cases hold the search page contract; the current service has its own.
    config_.legacyService = true;
    config_.settingsPath.clear();
    config_.cookieStorePath.clear();
    // Nothing listens on port 1: the invitation page fails at once, on this machine.
    config_.contact.groupLink = "127.0.0.1:1";
    config_.contact.mail = pages_.HostAndPort();
    layout_ = MainWindowLayout(config_);
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher_, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("tencent"), &catcher_, "open");
    qApp->installEventFilter(this);
  }
  void cleanupTestCase() {
    qApp->removeEventFilter(this);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("tencent"));
  }
  void init() {
    catcher_.urls.clear();
    shownWindows_.clear();
    gLastWindowGone = 0;
  }
  void cleanup() {
    toolkit::DestroyAllWindows();
    for (int page = 1; page <= 10; ++page) market_.SetPageMode(page, market::Mode::Normal);
    // The window thread keeps running while the workers leave: they may be waiting
    // for one last step.
    QVERIFY(QTest::qWaitFor([] { return toolkit::WaitForWorkers(std::chrono::milliseconds(0)); },
                            10000));
  }

  void layoutMatchesTheWindowDesign_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    const QString window = U(kMainWindowName), group = U(kOthersGroup);
    auto row = [](const char* name, const QString& parent, QRect place, const char* text) {
      QTest::newRow(name) << U(name) << parent << place << U(text);
    };
    row(kResultList, window, QRect(8, 8, 472, 312), "");
    row("透明标签1", window, QRect(488, 8, 112, 32), "搜索关键词：");
    row(kKeywordBox, window, QRect(488, 35, 112, 40), "");
    row("透明标签2", window, QRect(488, 80, 112, 32), "查询页数：");
    row(kPageCountBox, window, QRect(488, 107, 112, 40), "10");
    row(kFindButton, window, QRect(482, 152, 120, 48), "查找");
    row("透明标签3", window, QRect(488, 201, 112, 32), "模糊匹配关键词：");
    row(kSellerBox, window, QRect(488, 228, 112, 40), "");
    row(kFilterButton, window, QRect(482, 272, 120, 48), "查找");
    row(kOthersGroup, window, QRect(8, 324, 592, 148), "其余：");
    row(kChatButton, group, QRect(8, 20, 104, 48), "加作者QQ");
    row(kGroupJoinButton, group, QRect(120, 20, 104, 48), "加软件更新QQ群");
    row(kFeedbackButton, group, QRect(232, 20, 104, 48), "问题反馈");
    row(kSponsorButton, group, QRect(345, 20, 104, 48), "赞助支持作者");
    row(kInstructionsBox, group, QRect(8, 76, 576, 64),
        "使用说明：先设置好你要搜索的关键词，然后查询页数设置，点击查找，查找完毕后，输入你要查询"
        "商家名！比如这个商家名为：发个哈哈几个   那么你只需要输入：发个  就行了。软件自动模糊匹配"
        "查找！\n\n双击列表框即可自动打开宝贝链接");
  }
  void layoutMatchesTheWindowDesign() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    QWidget* window = Load();
    auto* control = window->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), place);
    QString shown;
    if (auto* label = qobject_cast<QLabel*>(control)) shown = label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) shown = edit->text();
    if (auto* button = qobject_cast<QPushButton*>(control)) {
      shown = button->text();
      QVERIFY(!button->autoDefault() && !button->isDefault());
    }
    if (auto* box = qobject_cast<QGroupBox*>(control)) shown = box->title();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
      shown = edit->toPlainText();
      QVERIFY(edit->isReadOnly());
      QCOMPARE(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }
    QCOMPARE(shown, text);
  }

  void windowFrameAndList() {
    QWidget* window = Load();
    QCOMPARE(window->windowTitle(), StartCaption());
    QCOMPARE(window->frameGeometry().size(), QSize(614, 505));
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QCOMPARE(window->frameGeometry().topLeft(),
             QPoint((screen.width() - 614) / 2, (screen.height() - 505) / 2));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowStaysOnTopHint));

    auto* list = Child<QTableView>(window, kResultList);
    const QStringList headers{U("序号"), U("宝贝标题"), U("宝贝ID"), U("商家名")};
    const QList<int> widths{50, 200, 100, 100};
    QCOMPARE(list->model()->columnCount(), 4);
    for (int c = 0; c < 4; ++c) {
      QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
      QCOMPARE(list->horizontalHeader()->sectionSize(c), widths[c]);
    }
    QVERIFY(list->showGrid());
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

    // A header click does not sort and edits nothing.
    toolkit::ListInsertRow(list, "b");
    toolkit::ListInsertRow(list, "a");
    QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(10, list->horizontalHeader()->height() / 2));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualRect(list->model()->index(0, 0)).center());
    QCOMPARE(Cell(window, 0, 0), U("b"));
    QCOMPARE(Cell(window, 1, 0), U("a"));
    QVERIFY(!list->isPersistentEditorOpen(list->model()->index(0, 0)));
  }

  void escapeClosesFromAnyControl_data() {
    QTest::addColumn<QString>("control");
    for (const char* name :
         {kResultList, kKeywordBox, kInstructionsBox, kFindButton, kFeedbackButton}) {
      QTest::newRow(name) << U(name);
    }
  }
  void escapeClosesFromAnyControl() {
    QFETCH(QString, control);
    QPointer<QWidget> window = Load();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QWidget* focus = window->findChild<QWidget*>(control);
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_Escape);
    QTRY_VERIFY(window.isNull());
    QCOMPARE(gLastWindowGone, 1);  // nothing else was loaded
  }

  void enterAndF1DoNothing() {
    QWidget* window = Load();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const auto requests = market_.Requests().size();
    for (const char* name : {kKeywordBox, kFindButton, kFilterButton}) {
      QWidget* control = Child(window, name);
      control->setFocus();
      QTest::keyClick(control, Qt::Key_Return);
      QTest::keyClick(control, Qt::Key_Enter);
      QTest::keyClick(control, Qt::Key_F1);
      QCOMPARE(QApplication::focusWidget(), control);
    }
    QTest::qWait(200);
    QCOMPARE(market_.Requests().size(), requests);
    QCOMPARE(window->windowTitle(), StartCaption());
    QCOMPARE(shownWindows_, QStringList{U(kMainWindowName)});
  }

  void searchFillsNumberedRowsWithProgressCaptions() {
    QWidget* window = Load();
    SetText(window, kKeywordBox, U("连衣裙"));
    SetText(window, kPageCountBox, U("3"));
    QStringList captions;
    connect(window, &QWidget::windowTitleChanged, this,
            [&](const QString& title) { captions << title; });
    const auto requests = market_.Requests().size();
    Click(window, kFindButton);
    QTRY_COMPARE_WITH_TIMEOUT(captions.size(), 4, 15000);
    QCOMPARE(captions, QStringList({Progress(1), Progress(2), Progress(3), StartCaption()}));
    QCOMPARE(market_.Requests().size(), requests + 3);

    QCOMPARE(ModelOf(window)->rowCount(), 3 * 44);
    for (int row = 0; row < 3 * 44; ++row) {
      const market::SampleListing listing = market::ListingAt("连衣裙", row / 44 + 1, row % 44);
      QCOMPARE(Cell(window, row, 0), QString::number(row + 1));
      QCOMPARE(Cell(window, row, 1), U(listing.title.c_str()));
      QCOMPARE(Cell(window, row, 2), U(listing.itemId.c_str()));
      QCOMPARE(Cell(window, row, 3), U(listing.sellerNick.c_str()));
    }
    // Cells come back in code page 936.
    const toolkit::List list = Child<QTableView>(window, kResultList);
    QCOMPARE(toolkit::ListCellText(list, 50, 3),
             Utf8ToGbk(market::ListingAt("连衣裙", 2, 6).sellerNick));

    // A second search starts from an empty list.
    SetText(window, kPageCountBox, U("1"));
    Click(window, kFindButton);
    QTRY_COMPARE_WITH_TIMEOUT(captions.size(), 6, 15000);
    QCOMPARE(ModelOf(window)->rowCount(), 44);
    QCOMPARE(Cell(window, 0, 0), U("1"));
  }

  void filterKeepsMatchingSellers_data() {
    QTest::addColumn<QString>("fragment");
    QTest::newRow("Chinese fragment") << U("发个");
    QTest::newRow("letter case counts") << U("abc");
    QTest::newRow("trailing space matches nothing here") << U("小店 ");
  }
  void filterKeepsMatchingSellers() {
    QFETCH(QString, fragment);
    QWidget* window = Load();
    QVERIFY(SearchAndWait(window, U("手机"), 2));
    QCOMPARE(ModelOf(window)->rowCount(), 88);
    SetText(window, kSellerBox, fragment);
    Click(window, kFilterButton);

    QList<int> expected;  // the row numbers of the listings whose nick holds the fragment
    for (int row = 0; row < 88; ++row) {
      const auto listing = market::ListingAt("手机", row / 44 + 1, row % 44);
      if (U(listing.sellerNick.c_str()).contains(fragment)) expected << row + 1;
    }
    QAbstractItemModel* model = ModelOf(window);
    QCOMPARE(model->rowCount(), expected.size());
    for (int row = 0; row < model->rowCount(); ++row) {
      QCOMPARE(Cell(window, row, 0).toInt(), expected[row]);  // numbers are kept
      QVERIFY(Cell(window, row, 3).contains(fragment));
    }
    Click(window, kFilterButton);  // again: nothing changes
    QCOMPARE(model->rowCount(), expected.size());
  }

  void filterDuringASearchKeepsEveryRowWhole() {
    QWidget* window = Load();
    SetText(window, kKeywordBox, U("耳机"));
    SetText(window, kPageCountBox, U("8"));
    SetText(window, kSellerBox, U("小店"));
    QMap<QString, market::SampleListing> byId;
    for (int page = 1; page <= 8; ++page) {
      for (int i = 0; i < 44; ++i) {
        const auto listing = market::ListingAt("耳机", page, i);
        byId.insert(U(listing.itemId.c_str()), listing);
      }
    }
    // The filter itself, run over and over on the window thread while the worker
    // appends pages; 按钮2 would refuse during the run.
    auto state = std::make_shared<MainWindowState>();
    WindowSearchView view(
        {window, Child<QTableView>(window, kResultList), Child(window, kKeywordBox),
         Child(window, kPageCountBox), Child(window, kSellerBox)},
        state);
    int filterRuns = 0;
    QTimer filterTimer;
    connect(&filterTimer, &QTimer::timeout, this, [&] {
      FilterBySeller(view);
      ++filterRuns;
    });
    filterTimer.start(2);
    QVERIFY(SearchAndWait(window, U("耳机"), 8));
    filterTimer.stop();
    FilterBySeller(view);
    QVERIFY(filterRuns > 8);

    QAbstractItemModel* model = ModelOf(window);
    int matching = 0;
    for (const auto& listing : byId) matching += U(listing.sellerNick.c_str()).contains(U("小店"));
    QCOMPARE(model->rowCount(), matching);
    for (int row = 0; row < model->rowCount(); ++row) {
      const QString id = Cell(window, row, 2);
      QVERIFY2(byId.contains(id), qPrintable(id));
      QCOMPARE(Cell(window, row, 1), U(byId[id].title.c_str()));
      QCOMPARE(Cell(window, row, 3), U(byId[id].sellerNick.c_str()));
    }
  }

  void findButtonsWaitWhileASearchRunsAndClosingStopsIt() {
    market_.SetPageMode(2, market::Mode::Silent);
    QPointer<QWidget> window = Load();
    SetText(window, kKeywordBox, U("台灯"));
    SetText(window, kPageCountBox, U("3"));
    SetText(window, kSellerBox, U("no seller has this"));
    const std::size_t before = market_.Requests().size();
    Click(window, kFindButton);
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), Progress(2), 15000);
    QCOMPARE(ModelOf(window)->rowCount(), 44);
    // The caption changes before the request for page 2 goes out: the count is read
    // once the market has the request.
    QTRY_VERIFY_WITH_TIMEOUT(RequestedPage(market_, 2, before), 15000);
    const auto requests = market_.Requests().size();
    Click(window, kFilterButton);
    Click(window, kFindButton);
    QTest::qWait(300);  // nothing may happen within this interval
    QCOMPARE(ModelOf(window)->rowCount(), 44);
    QCOMPARE(market_.Requests().size(), requests);
    QCOMPARE(window->windowTitle(), Progress(2));

    // Closing the window ends the run: the unanswered request is abandoned.
    QElapsedTimer clock;
    clock.start();
    window->close();
    QTRY_VERIFY(window.isNull());
    QVERIFY(QTest::qWaitFor([] { return toolkit::WaitForWorkers(std::chrono::milliseconds(0)); },
                            10000));
    qInfo("worker left %lld ms after the window closed", static_cast<long long>(clock.elapsed()));
  }

  void doubleClickOpensTheItemPage() {
    QWidget* window = Load();
    auto* list = Child<QTableView>(window, kResultList);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(100, 100));
    QTRY_COMPARE(catcher_.urls.size(), 1);  // no row selected: the id is empty
    QCOMPARE(catcher_.urls[0], QUrl(U("https://item.taobao.com/item.htm?id=")));

    QVERIFY(SearchAndWait(window, U("键盘"), 1));
    const QPoint at = list->visualRect(list->model()->index(5, 1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTRY_COMPARE(catcher_.urls.size(), 2);
    QCOMPARE(catcher_.urls[1], QUrl(U("https://item.taobao.com/item.htm?id=") +
                                    U(market::ListingAt("键盘", 1, 5).itemId.c_str())));
  }

  void chatButtonOpensTheQQAddress() {
    QWidget* window = Load();
    Click(window, kChatButton);
    QTRY_COMPARE(catcher_.urls.size(), 1);
    QCOMPARE(catcher_.urls[0],
             QUrl(U("tencent://message/?uin=") + U(kAuthorQQ) + U("&Site=&menu=yes")));
    OpenAuthorChat(42);
    QCOMPARE(catcher_.urls.value(1), QUrl(U("tencent://message/?uin=42&Site=&menu=yes")));
  }

  void sponsorWindowDrawsBothPicturesScaledAndCentred() {
    QWidget* window = Load();
    Click(window, kSponsorButton);
    QPointer<QWidget> sponsor = toolkit::LoadedWindow(SponsorWindow()).data();
    QVERIFY(sponsor && sponsor->isVisible());
    QCOMPARE(sponsor->windowTitle(), U("支持作者开发！不论多少，都是心意！"));
    QCOMPARE(sponsor->frameGeometry().size(), QSize(712, 436));
    QCOMPARE(Child<QGroupBox>(sponsor, kWeChatPayGroup)->title(), U("微信支付"));
    QCOMPARE(Child<QGroupBox>(sponsor, kAlipayGroup)->geometry(), QRect(360, 8, 336, 392));
    auto* wechat = Child<QLabel>(sponsor, kWeChatPayPicture);
    auto* alipay = Child<QLabel>(sponsor, kAlipayPicture);
    QCOMPARE(wechat->geometry(), QRect(8, 24, 320, 360));
    QCOMPARE(DrawnArea(wechat), QRect((320 - 265) / 2, 0, 265, 360));
    QCOMPARE(DrawnArea(alipay), QRect((320 - 240) / 2, 0, 240, 360));

    // Again: the same window comes forward; a minimised one is restored.
    sponsor->showMinimized();
    Click(window, kSponsorButton);
    QCOMPARE(toolkit::LoadedWindow(SponsorWindow()).data(), sponsor.data());
    QTRY_VERIFY(!sponsor->isMinimized());
    QCOMPARE(toolkit::LoadedWindowCount(), 2);
  }

  void companionWindowKeepsTheProgramRunning() {
    QPointer<QWidget> window = Load();
    Click(window, kSponsorButton);
    QPointer<QWidget> sponsor = toolkit::LoadedWindow(SponsorWindow()).data();
    window->close();
    QTRY_VERIFY(window.isNull());
    QCOMPARE(gLastWindowGone, 0);
    QCOMPARE(toolkit::LoadedWindowCount(), 1);
    QVERIFY(QTest::qWaitForWindowActive(sponsor));
    QTest::keyClick(sponsor, Qt::Key_Escape);
    QTRY_VERIFY(sponsor.isNull());
    QCOMPARE(gLastWindowGone, 1);
  }

  void feedbackWindowLoadsTheMailPageAndComesForward() {
#if defined(__SANITIZE_THREAD__)
    QSKIP(
        "Qt WebEngine's threads are not instrumented; the browser windows run in the other builds");
#endif
    QWidget* window = Load();
    Click(window, kFeedbackButton);
    QPointer<QWidget> feedback = toolkit::LoadedWindow(FeedbackWindow()).data();
    QVERIFY(feedback && feedback->isVisible());
    QCOMPARE(feedback->windowTitle(), U("问题反馈  请把软件问题描述清楚！！！"));
    QCOMPARE(feedback->frameGeometry().size(), QSize(600, 493));
    auto* browser = Child<QWebEngineView>(feedback, "超文本浏览框1");
    QCOMPARE(browser->geometry(), QRect(8, 8, 584, 448));
    QSignalSpy firstLoad(browser, &QWebEngineView::loadFinished);
    const QUrl page(U("http://") + U(pages_.HostAndPort().c_str()) +
                    U("/cgi-bin/qm_share?t=qm_mailme&email=") + U(kAuthorQQ) + U("@qq.com"));
    QTRY_COMPARE_WITH_TIMEOUT(firstLoad.size(), 1, 15000);
    QCOMPARE(browser->url(), page);

    QSignalSpy started(browser, &QWebEngineView::loadStarted);
    QSignalSpy finished(browser, &QWebEngineView::loadFinished);
    feedback->showMinimized();
    Click(window, kFeedbackButton);
    QCOMPARE(toolkit::LoadedWindow(FeedbackWindow()).data(), feedback.data());
    QTRY_VERIFY(!feedback->isMinimized());
    QTRY_VERIFY_WITH_TIMEOUT(started.size() == 1 && finished.size() == 1, 15000);  // loaded again
    QCOMPARE(browser->url(), page);

    // Silent: script dialogs return at once and nothing shows.
    browser->setHtml(U("<script>alert('a'); var c = confirm('c'); var p = prompt('p', 'x');"
                       "console.log('noise'); document.title = 'done:' + c + ':' + p;</script>"),
                     QUrl(U("http://127.0.0.1/")));
    QTRY_COMPARE_WITH_TIMEOUT(browser->title(), U("done:false:null"), 15000);
    for (QWidget* top : QApplication::topLevelWidgets()) {
      QVERIFY2(!top->isVisible() || top == window || top == feedback,
               top->metaObject()->className());
    }

    // Esc closes it from inside the page too. Asked for again, a fresh window loads
    // the page anew.
    QVERIFY(QTest::qWaitForWindowActive(feedback));
    QWidget* pageFocus = browser->focusProxy() ? browser->focusProxy() : browser;
    pageFocus->setFocus();
    QTest::keyClick(pageFocus, Qt::Key_Escape);
    QTRY_VERIFY(feedback.isNull());
    Click(window, kFeedbackButton);
    QWidget* fresh = toolkit::LoadedWindow(FeedbackWindow()).data();
    QVERIFY(fresh);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QWebEngineView>(fresh, "超文本浏览框1")->url(), page, 15000);
  }

  void groupJoinNeverShowsAWindowAndUnloadsOnce() {
#if defined(__SANITIZE_THREAD__)
    QSKIP(
        "Qt WebEngine's threads are not instrumented; the browser windows run in the other builds");
#endif
    QPointer<QWidget> window = Load();
    QElapsedTimer clock;
    QPointer<QWidget> joinWindow;
    bool sawJoin = false, hiddenDuringWait = false, secondClickIgnored = false,
         handledDuringWait = false;
    int goneWhileJoining = -1;
    // The join waits inside a nested event loop; these run inside it.
    QUrl link;
    QTimer::singleShot(400, this, [&] {
      joinWindow = toolkit::LoadedWindow(GroupJoinWindow()).data();
      if (auto* browser = Child<QWebEngineView>(joinWindow, "超文本浏览框1")) {
        link = browser->page()->requestedUrl();
      }
      sawJoin = true;
      hiddenDuringWait = joinWindow && !joinWindow->isVisible() && JoinInProgress();
      Click(window, kGroupJoinButton);
      Click(window, kSponsorButton);
    });
    QTimer::singleShot(800, this, [&] {
      secondClickIgnored =
          toolkit::LoadedWindow(GroupJoinWindow()).data() == joinWindow.data() && joinWindow;
      QPointer<QWidget> sponsor = toolkit::LoadedWindow(SponsorWindow()).data();
      handledDuringWait = sponsor && sponsor->isVisible();
      if (sponsor) sponsor->close();
      window->close();  // the hidden window alone keeps the program running
    });
    QTimer::singleShot(1500, this, [&] { goneWhileJoining = gLastWindowGone; });
    clock.start();
    Click(window, kGroupJoinButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        sawJoin && !JoinInProgress() && toolkit::LoadedWindow(GroupJoinWindow()).isNull(), 10000);
    const qint64 waited = clock.elapsed();
    QTRY_VERIFY(joinWindow.isNull());
    // The button passes its selector: the second group's key.
    QCOMPARE(link, QUrl(U("https://127.0.0.1:1/?_wv=1027&k=") + U(kSecondGroupKey)));
    QVERIFY(hiddenDuringWait);
    QVERIFY(secondClickIgnored);
    QVERIFY(handledDuringWait);
    QCOMPARE(goneWhileJoining, 0);
    QCOMPARE(gLastWindowGone, 1);
    QVERIFY(waited >= 4000);
    QVERIFY2(!shownWindows_.contains(U(kGroupJoinWindowName)),
             qPrintable(shownWindows_.join(U(","))));
    QCOMPARE(shownWindows_, QStringList({U(kMainWindowName), U(kSponsorWindowName)}));
  }

 private:
  QWidget* Load() { return toolkit::LoadWindow(layout_).data(); }

  // Runs a search from 按钮1 and waits until its caption is back.
  bool SearchAndWait(QWidget* window, const QString& keyword, int pages) {
    SetText(window, kKeywordBox, keyword);
    SetText(window, kPageCountBox, QString::number(pages));
    bool started = false;
    const auto connection =
        connect(window, &QWidget::windowTitleChanged, this,
                [&](const QString& title) { started |= title != StartCaption(); });
    Click(window, kFindButton);
    const bool done =
        QTest::qWaitFor([&] { return started && window->windowTitle() == StartCaption(); }, 20000);
    disconnect(connection);
    return done;
  }

  market::SampleMarket market_;
  market::SampleMarket pages_{PlainHttp()};
  AppConfig config_;
  toolkit::WindowLayout layout_;
  UrlCatcher catcher_;
  QStringList shownWindows_;
};

// ---------------------------------------------------------------------------------
// The whole program, started and ended as the real one is, in a child process.

namespace {

// Runs the program's own start-up and loop against a sample market and closes the
// main window in the middle of a search. Exit status 0: the loop ended and every
// worker had left; 3: a worker was still running.
int RunCloseDuringSearch(const char* variant) {
  market::MarketOptions options;
  const bool huge = std::strcmp(variant, "huge") == 0;
  if (huge) {
    options.defaultMode = market::Mode::Huge;
  } else {
    options.pageModes[2] = market::Mode::Silent;
  }
  market::SampleMarket market(options);
  if (!market.Start()) return 2;
  AppConfig config = DefaultConfig();
  config.hosts.search = market.HostAndPort();
  config.extraCaFile = market.CaFile();
  config.legacyService = true;
  config.settingsPath.clear();
  config.cookieStorePath.clear();

  PrepareApplication();
  static char name[] = "zemlaro";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  QApplication application(argc, argv);
  if (!StartProgram(config)) return 2;
  QWidget* window = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == U(kMainWindowName)) window = top;
  }
  if (window == nullptr) return 2;
  SetText(window, kKeywordBox, U("台灯"));
  SetText(window, kPageCountBox, U("3"));
  const QString closeAt = Progress(huge ? 1 : 2);
  QObject::connect(window, &QWidget::windowTitleChanged, window,
                   [window, closeAt](const QString& t) {
                     if (t == closeAt)
                       QTimer::singleShot(100, window, [window] { window->close(); });
                   });
  QTimer::singleShot(0, window, [window] { Child<QPushButton>(window, kFindButton)->click(); });
  const int status = RunProgramLoop();
  if (status != 0) return status;
  return toolkit::WaitForWorkers(std::chrono::milliseconds(0)) ? 0 : 3;
}

}  // namespace

class ShutdownTest : public QObject {
  Q_OBJECT
 private slots:
  void closingDuringASearchEndsTheProgramCleanly_data() {
    QTest::addColumn<QString>("variant");
    QTest::newRow("while a request waits for its answer") << U("silent");
    QTest::newRow("while a 20,000-row page comes in") << U("huge");
  }
  void closingDuringASearchEndsTheProgramCleanly() {
    QFETCH(QString, variant);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {U("--close-during-search"), variant});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    qInfo("%s: the program ended %lld ms after it started", qPrintable(variant),
          static_cast<long long>(clock.elapsed()));
  }
};

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--close-during-search") == 0) {
    return RunCloseDuringSearch(argv[2]);
  }
  PrepareApplication();
  QApplication application(argc, argv);
  PrepareToolkit();
  toolkit::SetLastWindowGoneHandler([] { ++gLastWindowGone; });
  int status = 0;
  {
    RulesTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    ToolkitTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    MainWindowTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    ShutdownTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  return status;
}

#include "app_tests.moc"
