// The windows on a team's server: a keyword collected into it, shown again
// from it by a window on another machine, and refused there while a
// collector elsewhere holds it; a server out of reach when the search window
// opens leaves the program running. The team's work queue in the search
// window: its keywords' states, keywords added to it, and a keyword a
// worker collects shown rather than refused.

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>
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

    // The search window's list, a line per keyword: name|rows|state|tooltip.
    static QStringList listed(SearchWindow& search) {
        auto* list = search.findChild<QTreeWidget*>("已存关键字");
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            rows << item->text(0) + "|" + item->text(1) + "|" + item->text(2) + "|" +
                        item->toolTip(2);
        }
        return rows;
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

    void theTeamQueueIsShownAndAddedTo() {
        PgServer& server = PgServer::shared();
        const std::string url = server.create_database("server_window_queue");
        QVERIFY2(!url.empty(), server.failure().c_str());
        dialogs_.messages.clear();
        const std::string list = folder_->str() + "/queue.txt";
        std::ofstream(list, std::ios::binary) << "\xEF\xBB\xBF# 团队\r\n丁\r\n戊\r\n";
        auto window = started_window(url);
        with_search_window(*window, [&](SearchWindow& search) {
            auto* typed = search.findChild<QPushButton*>("加入团队队列");
            auto* file = search.findChild<QPushButton*>("导入到团队队列");
            QVERIFY(typed != nullptr && file != nullptr);
            QVERIFY(search.rect().contains(typed->geometry()));
            QVERIFY(search.rect().contains(file->geometry()));
            search.findChild<QLineEdit*>("编辑框1")->setText("甲");
            QTest::mouseClick(typed, Qt::LeftButton);
            QCOMPARE(listed(search), QStringList({"123|0|完成|", "甲|0|排队中|"}));
            // A keyword file, read as "导入关键字…" reads one.
            dialogs_.open_answer = QString::fromStdString(list);
            QTest::mouseClick(file, Qt::LeftButton);
            QCOMPARE(listed(search),
                     QStringList({"123|0|完成|", "甲|0|排队中|", "丁|0|排队中|", "戊|0|排队中|"}));
        });
        QVERIFY(dialogs_.messages.empty());
        // Queued as `queue add` queues: the site in use, its tries.
        QCOMPARE(server.value("SELECT string_agg(keyword || ':' || profile || ':' || "
                              "length(profile_text) || ':' || allowed, ' ' ORDER BY number) "
                              "FROM \"MSysQueue\"",
                              "server_window_queue"),
                 std::string("甲:") + std::string(kBuiltInSiteName) +
                     ":0:3 丁:" + std::string(kBuiltInSiteName) +
                     ":0:3 戊:" + std::string(kBuiltInSiteName) + ":0:3");
        // Nothing of it ran here.
        QCOMPARE(window->findChild<QTabWidget*>("选择夹1")->count(), 1);

        // A worker collects 丁 and has stored two of its rows; 戊 failed.
        std::string error;
        auto worker = PostgresStore::open(url, &error);
        QVERIFY2(worker, error.c_str());
        QVERIFY2(worker->claim("丁", &error), error.c_str());
        QVERIFY2(worker->ensure_table("丁", &error), error.c_str());
        QVERIFY2(worker->save_member_list("丁", {"d0", "d1", "d2"}, false, &error), error.c_str());
        for (int i = 0; i < 2; ++i) {
            ContactRecord record;
            record[kAccount] = "d" + std::to_string(i);
            QVERIFY2(worker->insert_record("丁", record, i, &error), error.c_str());
        }
        QVERIFY(
            server.admin("UPDATE \"MSysQueue\" SET state = 'running', worker = 'w1:7', "
                         "tries = 1 WHERE keyword = '丁'",
                         "server_window_queue"));
        QVERIFY(
            server.admin("UPDATE \"MSysQueue\" SET state = 'failed', reason = 'HTTP 503' "
                         "WHERE keyword = '戊'",
                         "server_window_queue"));
        market_->clear_requests();
        submit(*window, "丁");
        // Shown as stored, not refused, and nothing asked of the marketplace.
        QVERIFY(dialogs_.messages.empty());
        QTRY_COMPARE(window->result_model(1)->rowCount(), 2);
        QCOMPARE(window->findChild<QTreeWidget*>("超级列表框1")->topLevelItemCount(), 0);
        QVERIFY(market_->requests().empty());
        with_search_window(*window, [&](SearchWindow& search) {
            QCOMPARE(
                listed(search),
                QStringList({"123|0|完成|",
                             "丁|2|采集中 (其他采集器)|采集器 w1:7 正在采集；提交即显示已保存的行",
                             "甲|0|排队中|", "戊|0|失败|HTTP 503"}));
        });
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
