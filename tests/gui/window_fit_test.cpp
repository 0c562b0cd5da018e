// Windows on small and scaled screens: every window, its title bar and
// frame included, lies within the screen's available area, its buttons in
// reach; the main window resizes and its lists grow with it. The screen is
// the offscreen platform's, as the environment describes it
// (QINGLAN_TEST_SCREEN "WIDTHxHEIGHT", QT_SCALE_FACTOR).

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTreeWidget>

#include "app/export_dialog.h"
#include "app/export_window.h"
#include "app/settings_dialog.h"
#include "app/task_list.h"
#include "app/window_fit.h"
#include "gui_fixture.h"

namespace qinglan {
namespace {

// What a window manager adds around a window at least: fit_to_screen keeps
// room for more.
constexpr QSize kFrame(8, 36);

QRect available() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// The window with its frame lies within the available area, with room for
// a window manager's title bar and frame.
bool fits(const QWidget& window) {
    const QSize room = available().size() - kFrame;
    return available().contains(window.frameGeometry()) && window.width() <= room.width() &&
           window.height() <= room.height();
}

QString geometry_text(const QWidget& window) {
    const QRect place = window.geometry();
    const QRect area = available();
    return QStringLiteral("%1: %2,%3 %4x%5 in %6x%7")
        .arg(window.objectName())
        .arg(place.x())
        .arg(place.y())
        .arg(place.width())
        .arg(place.height())
        .arg(area.width())
        .arg(area.height());
}

// `part` is shown whole within `window`.
bool within(QWidget& window, QWidget* part) {
    const QRect place(part->mapTo(&window, QPoint(0, 0)), part->size());
    return part->isVisible() && window.rect().contains(place);
}

}  // namespace

class WindowFitTest : public QObject, public WindowFixture {
    Q_OBJECT

private slots:
    void init() { init_fixture(); }
    void cleanup() { cleanup_fixture(); }

    void placesWithinTheAvailableArea() {
        const QSize usual(867, 544);
        // Room enough: the usual size, centred.
        QCOMPARE(fit_into(QRect(0, 0, 1920, 1080), usual, kFrame),
                 QRect(522 + 4, 250 + 32, 867, 544));
        // 800 × 600 and a scale factor of 2 on 1400 × 900 (a panel taking 30
        // pixels): smaller, wholly inside, the title bar on the screen.
        for (const QRect& area : {QRect(0, 0, 800, 600), QRect(0, 0, 700, 450),
                                  QRect(0, 15, 700, 435), QRect(100, 0, 700, 450)}) {
            const QRect inside = fit_into(area, usual, kFrame);
            const QRect outer = inside.adjusted(-4, -32, 4, 4);
            QVERIFY2(area.contains(outer), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                          .arg(outer.x())
                                                          .arg(outer.y())
                                                          .arg(outer.width())
                                                          .arg(outer.height())));
            QCOMPARE(outer.width(), std::min(area.width(), usual.width() + kFrame.width()));
        }
    }

    void theMainWindowFitsAndGrows() {
        MainWindow& window = open_window();
        QVERIFY2(fits(window), qPrintable(geometry_text(window)));
        const QSize usual(867, 544);
        QCOMPARE(window.size(), usual.boundedTo(available().size() - kFrame));
        QVERIFY(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(window.maximumWidth() > 2000 && window.maximumHeight() > 2000);
        // The status line fits and says whole in a tooltip what it cuts.
        QVERIFY(window.statusBar()->sizeHint().width() <= window.width());
        const QString long_text = QStringLiteral("状态：搜索页无法连接服务器（") +
                                  QString(200, QChar('x')) + QStringLiteral("）");
        window.set_status(0, long_text);
        QCOMPARE(window.findChild<QLabel*>("状态条1_0")->toolTip(), long_text);

        // Larger, the lists grow with it.
        auto* list = window.findChild<TaskList*>();
        const int list_width = list->width();
        const int tabs_height = tabs()->height();
        window.resize(window.width() + 200, window.height() + 150);
        QTRY_VERIFY(list->width() >= list_width + 150);
        QTRY_VERIFY(tabs()->height() >= tabs_height + 100);
    }

    void everyDialogFits() {
        MainWindow& window = open_window();
        with_search_window([&](SearchWindow& search) {
            QVERIFY2(fits(search), qPrintable(geometry_text(search)));
        });
        SettingsDialog settings_dialog(&window, *dialogs_, settings());
        settings_dialog.show();
        QVERIFY2(fits(settings_dialog), qPrintable(geometry_text(settings_dialog)));
        auto* scroll = settings_dialog.findChild<QScrollArea*>("settings_scroll");
        QVERIFY(scroll != nullptr);
        // The fields scroll down only, never sideways.
        QTRY_COMPARE(scroll->horizontalScrollBar()->maximum(), 0);
        QVERIFY(within(settings_dialog,
                       settings_dialog.findChild<QDialogButtonBox*>("settings_buttons")));
        ExportOffer offer;
        offer.tab_title = QStringLiteral("手机");
        offer.tab_rows = 3;
        offer.stored = {{"手机", 3}, {"电子", 5}};
        ExportDialog export_dialog(&window, offer);
        export_dialog.show();
        QVERIFY2(fits(export_dialog), qPrintable(geometry_text(export_dialog)));
        ExportWindow progress(&window);
        progress.show();
        QVERIFY2(fits(progress), qPrintable(geometry_text(progress)));
    }
};

}  // namespace qinglan

// The offscreen platform with one screen of the size the environment names.
int main(int argc, char** argv) {
    const QByteArray size = qgetenv("QINGLAN_TEST_SCREEN");
    const QList<QByteArray> sides = (size.isEmpty() ? QByteArray("800x600") : size).split('x');
    const QString config = QDir::temp().filePath(
        QStringLiteral("qinglan_screen_%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("{\"screens\": [{\"name\": \"test\", \"x\": 0, \"y\": 0, \"width\": " +
                   sides.value(0) + ", \"height\": " + sides.value(1) +
                   ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}") < 0) {
        return 2;
    }
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toUtf8());
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        qunsetenv(name);
    }
    int status = 0;
    {
        QApplication application(argc, argv);
        qinglan::WindowFitTest test;
        status = QTest::qExec(&test, argc, argv);
    }
    QFile::remove(config);
    return status;
}

#include "window_fit_test.moc"
