// The windows on a team's server: a keyword collected into it, shown again
// from it by a window on another machine, and refused there while a
// collector elsewhere holds it; a server out of reach when the search window
// opens leaves the program running.

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

#include <memory>

#include "app/main_window.h"
#include "app/result_list_model.h"
#include "app/search_window.h"
#include "gui_fixture.h"
#include "services/fetch.h"
#include "storage/postgres_store.h"
#include "tests/pg_server.h"

namespace qinglan {

class ServerWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<SampleMarketplace> market_;
    RecordingDialogs dialogs_;
    std::string url_;
    std::vector<int> ended_;

    std::unique_ptr<MainWindow> started_window(const std::string& url) {
        Options settings;
        settings.data_dir = folder_->str();
        settings.hosts = {market_->search_host(), market_->member_host(),
                          market_->contact_domain()};
        settings.run_dir = folder_->str();
        settings.program_name = "qinglan";
        settings.database_url = url;
        auto window = std::make_unique<MainWindow>(settings, dialogs_);
        window->set_end_program([this](int status) { ended_.push_back(status); });
        window->prepare_database();
        return window;
    }

    static void submit(MainWindow& window, const QString& keyword) {
        QTimer::singleShot(0, [&] {
            auto* search = qobject_cast<SearchWindow*>(QApplication::activeModalWidget());
            QVERIFY(search != nullptr);
            auto* box = search->findChild<QLineEdit*>("编辑框1");
            box->insert(keyword);
            QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClick(search, Qt::Key_Escape);
        });
        window.open_search_window();
    }

private slots:
    void initTestCase() {
        PgServer& server = PgServer::shared();
        QVERIFY2(server.running(), server.failure().c_str());
        url_ = server.create_database("server_window");
        QVERIFY2(!url_.empty(), server.failure().c_str());
        folder_ = std::make_unique<TempFolder>("server-window");
        market_ = std::make_unique<SampleMarketplace>();
        QVERIFY(market_->start());
        set_fetch_settings({.connect_seconds = 5, .stall_seconds = 5, .retry_base_ms = 10});
    }

    void collectsReopensAndRefusesOnTheServer() {
        serve_members(*market_, "甲", "a", 3);
        {
            auto window = started_window(url_);
            submit(*window, "甲");
            QTRY_COMPARE(window->status_text(1), QString("3位用户信息分析完成可以导出"));
            QCOMPARE(window->result_model(1)->rowCount(), 3);
        }
        // Nothing went to the file of the data folder.
        QVERIFY(!std::filesystem::exists(folder_->path() / "date" / "lingshishuj.db"));

        // Another machine's window shows the keyword from the server.
        market_->clear_requests();
        auto window = started_window(url_);
        submit(*window, "甲");
        QTRY_COMPARE(window->result_model(1)->rowCount(), 3);
        QCOMPARE(window->result_model(1)->index(2, kAccount).data().toString(), QString("a2"));
        QVERIFY(market_->requests().empty());

        // A keyword a collector elsewhere holds is refused.
        std::string error;
        auto elsewhere = PostgresStore::open(url_, &error);
        QVERIFY2(elsewhere, error.c_str());
        QVERIFY2(elsewhere->claim("乙", &error), error.c_str());
        submit(*window, "乙");
        QCOMPARE(dialogs_.messages.size(), size_t(1));
        QCOMPARE(dialogs_.messages[0].text,
                 QString("关键字「乙」正在由其他采集器采集，本次未采集。"));
        QVERIFY(dialogs_.messages[0].details.contains("another collector"));
    }

    void aServerOutOfReachLeavesTheProgramRunning() {
        PgServer& server = PgServer::shared();
        dialogs_.messages.clear();
        auto window = started_window(url_);
        QVERIFY(server.stop());
        window->open_search_window();
        QVERIFY(server.start());
        QCOMPARE(dialogs_.messages.size(), size_t(1));
        QVERIFY(dialogs_.messages[0].text.startsWith(QString("无法连接数据库 postgresql://")));
        QVERIFY(ended_.empty());
        // Back again, the window collects.
        serve_members(*market_, "丙", "c", 2);
        submit(*window, "丙");
        QTRY_COMPARE(window->status_text(1), QString("2位用户信息分析完成可以导出"));
    }

    void cleanupTestCase() {
        market_.reset();
        folder_.reset();
        set_fetch_settings({});
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::ServerWindowTest>(argc, argv);
}

#include "server_window_test.moc"
