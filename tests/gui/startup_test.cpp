// Start-up behind a shown window: the notice, the update check and its
// hand-over, a server that never answers, the program ending at any moment
// of the check, and a database that cannot be opened.

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTableView>

#include <chrono>
#include <fstream>

#include "app/result_list_model.h"
#include "app/result_page.h"
#include "app/startup.h"
#include "gui_fixture.h"
#include "workbook_reader.h"

namespace qinglan {

class StartUpTest : public QObject, public WindowFixture {
    Q_OBJECT

private:
    std::unique_ptr<StartUp> start_up_;

    // The window as the program makes it: shown first, then started up.
    MainWindow& start(const std::string& update_host,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        return start_with(settings(update_host), deadline);
    }

    MainWindow& start_with(Options settings,
                           std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        start_up_.reset();
        window_ = std::make_unique<MainWindow>(std::move(settings), *dialogs_);
        window_->set_end_program([this](int status) { ended_.push_back(status); });
        window_->show();
        start_up_ = std::make_unique<StartUp>(*window_, *dialogs_, deadline);
        start_up_->start();
        return *window_;
    }

    QString notice() { return window_->findChild<QPlainTextEdit*>("版本框")->toPlainText(); }

    void hang_update_server() {
        for (const char* file : {"123.txt", "up.txt"}) {
            market_->set_behaviour(file, {.never_answer = true});
        }
    }

private slots:
    void init() { init_fixture(); }
    void cleanup() {
        start_up_.reset();
        cleanup_fixture();
    }

    void theNoticeComesWhileTheWindowIsShown() {
        market_->set_resource("123.txt", gbk("欢迎使用\r\n第二行"));
        market_->set_resource("up.txt", gbk("版本:v0.1|"));
        market_->set_behaviour("up.txt", {.delay_ms = 200});
        MainWindow& window = start(market_->search_host());
        QVERIFY(window.isVisible());
        QVERIFY(start_up_->checking());
        QCOMPARE(notice(), QString("正在检查更新…"));
        QCOMPARE(window.status_text(0), QString("状态：程序准备好可以搜索"));
        QTRY_VERIFY(!start_up_->checking());
        // The server's notice, then the instructions.
        QCOMPARE(notice(),
                 "欢迎使用\n第二行\n\n" + MainWindow::built_in_notice().replace("\r\n", "\n"));
        QVERIFY(dialogs_->messages.empty());
        QVERIFY(ended_.empty());
        QVERIFY(std::filesystem::exists(folder_->path() / "date" / "lingshishuj.db"));
    }

    void withoutAnUpdateHostTheBuiltInNoticeStands() {
        start("");
        QVERIFY(!start_up_->checking());
        QCOMPARE(notice(), MainWindow::built_in_notice().replace("\r\n", "\n"));
        // The server's error page is no notice, and no descriptor either.
        start(market_->search_host());
        QTRY_VERIFY(!start_up_->checking());
        QCOMPARE(notice(), MainWindow::built_in_notice().replace("\r\n", "\n"));
        QVERIFY(!std::filesystem::exists(folder_->path() / "up" / "up.ini"));
        QVERIFY(ended_.empty());
    }

    void anotherVersionHandsOverToTheUpdater() {
        market_->set_resource("up.txt",
                              gbk("版本:v0.2|更新地址:http://u/|版本说明:新|手动下载:http://m/|"));
        std::filesystem::create_directories(folder_->path() / "up");

        // Without the updater: the message, then the end.
        start(market_->search_host());
        QTRY_COMPARE(ended_, std::vector<int>{0});
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(dialogs_->messages[0].caption, QString("   青岚采集软件友情提示"));
        QCOMPARE(dialogs_->messages[0].text,
                 QString("青岚采集 文件不完整，请重新下载。\r\n本软件绿色，无毒无害请放心使用！"));
        QVERIFY(file_contents(folder_->path() / "up" / "up.ini").find("v0.2") != std::string::npos);

        // With it: the updater is started, no message.
        const auto updater = folder_->path() / "up" / "up";
        const auto started = folder_->path() / "updater-ran";
        std::ofstream(updater) << "#!/bin/sh\ntouch '" << started.string() << "'\n";
        std::filesystem::permissions(updater, std::filesystem::perms::owner_all);
        dialogs_->messages.clear();
        ended_.clear();
        start(market_->search_host());
        QTRY_COMPARE(ended_, std::vector<int>{0});
        QVERIFY(dialogs_->messages.empty());
        QTRY_VERIFY(std::filesystem::exists(started));
    }

    // Installed from a package, the program's folder is the system's: no
    // hand-over, the start page says what is out and how to get it, and
    // names the folders the user's data and settings are in.
    void installedTheAnnouncedVersionIsShownInstead() {
        market_->set_resource(
            "up.txt", gbk("版本:v0.2|更新地址:http://u/|版本说明:新功能|手动下载:http://m/|"));
        std::filesystem::create_directories(folder_->path() / "up");
        Options installed = settings(market_->search_host());
        installed.shared_dir = (folder_->path() / "share" / "qinglan").string();
        installed.settings_file = (folder_->path() / "config" / "qinglan.ini").string();
        start_with(std::move(installed));
        QTRY_VERIFY(!start_up_->checking());
        QVERIFY2(notice().startsWith("有新版本 v0.2。"), qPrintable(notice()));
        QVERIFY(notice().contains("软件包管理器"));
        QVERIFY(notice().contains("版本说明：新功能"));
        QVERIFY(notice().endsWith(MainWindow::built_in_notice().replace("\r\n", "\n")));
        QVERIFY(ended_.empty());
        QVERIFY(dialogs_->messages.empty());
        QVERIFY(!std::filesystem::exists(folder_->path() / "up" / "up.ini"));
        const QString places = window_->findChild<QLabel*>("数据文件夹")->text();
        QVERIFY(places.contains(QString::fromStdString(folder_->str())));
        QVERIFY(places.contains("config/qinglan.ini"));
    }

    // The server takes the connection and never answers: the window is
    // there at once and works; the check is given up at its deadline.
    void aHangingServerHoldsNothingUp() {
        hang_update_server();
        QElapsedTimer shown;
        shown.start();
        MainWindow& window = start(market_->search_host(), std::chrono::milliseconds(500));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY2(shown.elapsed() < 1000, qPrintable(QString::number(shown.elapsed())));
        QCOMPARE(notice(), StartUp::checking_text());
        QTRY_VERIFY(market_->requests().size() == 2);
        // The user can work meanwhile.
        serve_members(*market_, "甲", "a", 2);
        submit_by_button("甲");
        QCOMPARE(tabs()->count(), 2);
        QVERIFY(start_up_->checking());

        QTRY_VERIFY(!start_up_->checking());
        QVERIFY(notice().startsWith("更新服务器没有及时回答，已跳过检查更新。"));
        QVERIFY(notice().endsWith(MainWindow::built_in_notice().replace("\r\n", "\n")));
        QVERIFY(ended_.empty());
        QTRY_COMPARE(window.result_model(1)->rowCount(), 2);
        QVERIFY(dialogs_->messages.empty());
    }

    // The program ends at any moment of a hanging check, or as its answer
    // arrives: nothing of the start-up outlives it, nothing is delivered to
    // a window that is gone, and ending never waits for the server.
    void endingDuringTheCheckIsSafe() {
        hang_update_server();
        QRandomGenerator random(12);
        for (int round = 0; round < 30; ++round) {
            if (round == 15) {
                // From now on the answers come, just about when the end does.
                market_->clear_behaviours();
                market_->set_resource("123.txt", "notice");
                market_->set_resource("up.txt", gbk("版本:v0.2|"));
                for (const char* file : {"123.txt", "up.txt"}) {
                    market_->set_behaviour(file, {.delay_ms = random.bounded(5)});
                }
            }
            start(market_->search_host());
            QTest::qWait(random.bounded(15));
            QElapsedTimer ending;
            ending.start();
            switch (round % 3) {
                case 0:
                    window_->close();
                    break;
                case 1:
                    window_->end_program(0);
                    break;
                default:
                    break;
            }
            start_up_.reset();
            window_.reset();
            QVERIFY2(ending.elapsed() < 1000, qPrintable(QString::number(ending.elapsed())));
            QTest::qWait(random.bounded(10));
        }
    }

    // A database that cannot be opened is said once, in a banner over the
    // window, and the program stays of use: keywords are collected, shown
    // and exported, each tab saying in its own banner that its rows are not
    // stored. No message box waits for an answer, so no keyword typed in a
    // row is lost.
    void withoutTheDatabaseRowsAreShownAndExported() {
        std::ofstream(folder_->path() / "date") << "not a folder";
        serve_members(*market_, "无库", "n", 3);
        serve_members(*market_, "齿轮", "g", 2);
        MainWindow& window = start("");
        QVERIFY(dialogs_->messages.empty());
        auto* banner = window.findChild<QLabel*>("数据库提示");
        QVERIFY(banner != nullptr && banner->isVisible());
        QVERIFY(banner->text().contains("lingshishuj.db"));
        QVERIFY(banner->text().contains("不会保存"));
        QVERIFY(banner->toolTip().contains("date"));
        QCOMPARE(window.status_text(0), QString("状态：数据库无法打开"));
        QVERIFY(!window.database_open());

        with_search_window([&](SearchWindow& search) {
            auto* box = search.findChild<QLineEdit*>("编辑框1");
            for (const QString keyword : {"无库", "齿轮"}) {
                box->setText(keyword);
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        QVERIFY(ended_.empty());
        QCOMPARE(tabs()->count(), 3);
        QVERIFY(dialogs_->messages.empty());
        for (int tab = 1; tab <= 2; ++tab) {
            auto* tab_banner = window.result_page(tab)->findChild<QLabel*>("数据库提示");
            QVERIFY(tab_banner != nullptr && !tab_banner->isHidden());
            QVERIFY(tab_banner->text().contains("「" + window.result_page(tab)->keyword() + "」"));
            QVERIFY(tab_banner->text().contains("不会保存"));
        }
        QTRY_COMPARE(window.result_model(1)->rowCount(), 3);
        QTRY_COMPARE(window.result_model(2)->rowCount(), 2);

        tabs()->setCurrentIndex(1);
        const auto path = folder_->path() / "无库.xlsx";
        dialogs_->save_answer = QString::fromStdString(path.string());
        window.export_to_excel();
        QTRY_VERIFY(!window.exporting());
        QCOMPARE(dialogs_->messages.back().text.section("\r\n", 0, 0), QString("导出成功!"));
        WorkbookReader workbook;
        std::string error;
        QVERIFY2(workbook.read(path.string(), &error), error.c_str());
        QCOMPARE(workbook.last_row(), 4);
        // The refused rows were not reported one by one.
        QCOMPARE(dialogs_->messages.size(), size_t(1));
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::StartUpTest>(argc, argv);
}

#include "startup_test.moc"
