// The real main window and search window, driven by unit name on the
// offscreen platform. Chinese text is put into the keyword box directly:
// the test library can only type ASCII keys.

#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>
#include <QTreeWidget>

#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>

#include "app/gui_app.h"
#include "app/main_window.h"
#include "app/result_list_model.h"
#include "app/result_page.h"
#include "app/search_window.h"
#include "app/stored_rows_loader.h"
#include "app/task_list.h"
#include "gui_fixture.h"
#include "services/fetch.h"
#include "storage/sqlite_store.h"
#include "workbook_reader.h"

namespace qinglan {

class MainWindowTest : public QObject, public WindowFixture {
    Q_OBJECT

private:
    // The window, its database not yet opened.
    MainWindow& make_window(const std::string& update_host = {}) {
        window_ = std::make_unique<MainWindow>(settings(update_host), *dialogs_);
        window_->set_end_program([this](int status) { ended_.push_back(status); });
        return *window_;
    }

    // Submits each keyword by Enter in the search window, then closes it.
    void submit_by_enter(const QStringList& keywords) {
        with_search_window([&](SearchWindow& search) {
            auto* box = search.findChild<QLineEdit*>("编辑框1");
            for (const QString& keyword : keywords) {
                box->clear();
                box->insert(keyword);
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
    }

    // Leaves `keyword` stored and complete, as a finished collection does:
    // its member list first, then each member's row.
    void store_collected(const std::string& keyword, const std::vector<ContactRecord>& records) {
        std::string error;
        auto store = SqliteStore::open(folder_->str(), &error);
        QVERIFY2(store, error.c_str());
        std::vector<std::string> accounts;
        for (const ContactRecord& record : records) {
            accounts.push_back(record[kAccount]);
        }
        QVERIFY2(store->ensure_table(keyword, &error), error.c_str());
        QVERIFY2(store->save_member_list(keyword, accounts, false, &error), error.c_str());
        for (std::size_t i = 0; i < records.size(); ++i) {
            QVERIFY2(store->insert_record(keyword, records[i], static_cast<int>(i), &error),
                     error.c_str());
        }
    }

    // The accounts of a result list, or of a stored table, in row order.
    static QStringList accounts_of(const ResultListModel& model) {
        QStringList accounts;
        for (int row = 0; row < model.rowCount(); ++row) {
            accounts << QString::fromStdString(model.cell_text(row, kAccount));
        }
        return accounts;
    }
    QStringList stored_accounts(const std::string& keyword) {
        std::string error;
        auto store = SqliteStore::open(folder_->str(), &error);
        QStringList accounts;
        if (!store || !store->read_rows(
                          keyword,
                          [&](ContactRecord&& record) {
                              accounts << QString::fromStdString(record[kAccount]);
                              return true;
                          },
                          &error)) {
            accounts << QString::fromStdString("unreadable: " + error);
        }
        return accounts;
    }

    static inline const QString kOneMemberFailed =
        "状态：1位用户信息采集失败，可再次提交关键字继续采集";

    // Collects 坏, whose second member's card always answers 503, to its end.
    void collect_with_failing_card() {
        serve_members(*market_, "坏", "b", 3);
        market_->set_behaviour("card/b1", {.status = 503});
        open_window();
        submit_by_enter({"坏"});
        QTRY_COMPARE(window_->status_text(0), kOneMemberFailed);
    }

    QTreeWidget* task_list() { return window_->findChild<QTreeWidget*>("超级列表框1"); }

    // True once every task row shows its task ended.
    bool tasks_done(int tasks) {
        QTreeWidget* list = task_list();
        if (list->topLevelItemCount() != tasks) {
            return false;
        }
        for (int i = 0; i < tasks; ++i) {
            const QString state = list->topLevelItem(i)->text(TaskList::kState);
            if (state == "排队" || state == "采集中") {
                return false;
            }
        }
        return true;
    }

private slots:
    void init() { init_fixture(); }
    void cleanup() { cleanup_fixture(); }

    void startUpLaysOutTheWindow() {
        MainWindow& window = open_window();
        QCOMPARE(window.windowTitle(), QString("青岚用户采集器（阿里巴巴）V01"));
        // 867 × 544, narrowed to the offscreen platform's 800-pixel-wide
        // screen with room for a frame; it can be maximized.
        QCOMPARE(window.size(), QSize(792, 544));
        QVERIFY(window.windowFlags() & Qt::WindowMaximizeButtonHint);

        auto* toolbar = window.findChild<QToolBar*>("工具条_顶部");
        QVERIFY(toolbar);
        QStringList captions;
        for (QAction* action : toolbar->actions()) {
            captions << action->text();
        }
        QCOMPARE(captions, QStringList({"客服信息", "导出", "帮助", "关于", "设置", "退出"}));
        QCOMPARE(toolbar->iconSize(), QSize(32, 32));

        QCOMPARE(window.findChild<QGroupBox*>("分组框1")->title(), QString("采集任务"));
        QTreeWidget* list = task_list();
        QCOMPARE(list->columnCount(), 6);
        QCOMPARE(list->headerItem()->text(0), QString("任务名称"));
        QCOMPARE(list->headerItem()->text(1), QString("任务总量"));
        QCOMPARE(list->headerItem()->text(2), QString("完成数量"));
        QCOMPARE(list->headerItem()->text(3), QString("失败数量"));
        QCOMPARE(list->headerItem()->text(4), QString("状态"));
        QCOMPARE(list->headerItem()->text(5), QString("进度"));
        // Every column shows its full width without scrolling.
        for (int column = 0; column < list->columnCount(); ++column) {
            QVERIFY(list->header()->sectionViewportPosition(column) + 100 <=
                    list->viewport()->width());
        }
        QCOMPARE(tabs()->count(), 1);
        QCOMPARE(tabs()->tabText(0), QString("起始页"));

        QVERIFY(window.findChild<QPlainTextEdit*>("版本框"));
        QVERIFY(window.findChild<QStatusBar*>("状态条1"));
        QCOMPARE(window.status_text(0), QString("状态：程序准备好可以搜索"));
        QCOMPARE(window.status_text(1), QString());
        QVERIFY(std::filesystem::exists(folder_->path() / "date" / "lingshishuj.db"));
        QVERIFY(dialogs_->messages.empty());
    }

    void submitsByButtonAndByEnterOnce() {
        // Slow cards keep the first task running while the keyword comes again.
        serve_members(*market_, "甲", "a", 3, 100);
        MainWindow& window = open_window();
        with_search_window([&](SearchWindow& search) {
            QCOMPARE(search.windowTitle(), QString("              公司信息搜索"));
            QCOMPARE(search.width(), 392);
            auto* box = search.findChild<QLineEdit*>("编辑框1");
            box->insert("甲");
            QTest::mouseClick(search.findChild<QPushButton*>("an1"), Qt::LeftButton);
            QCOMPARE(tabs()->count(), 2);
            // Enter submits on its release, exactly once, and the window
            // stays. The keyword is being collected: it is refused.
            QTest::keyClick(box, Qt::Key_Return);
            QCOMPARE(tabs()->count(), 2);
            QCOMPARE(dialogs_->messages.size(), size_t(1));
            QCOMPARE(dialogs_->messages[0].text,
                     QString("关键字「甲」正在由其他采集器采集，本次未采集。"));
            QVERIFY(dialogs_->messages[0].details.contains("another task"));
            QVERIFY(search.isVisible());
            QCOMPARE(box->text(), QString("甲"));
            QTest::keyClick(box, Qt::Key_A);
            QCOMPARE(dialogs_->messages.size(), size_t(1));
        });
        QTRY_VERIFY(tasks_done(1));
        QCOMPARE(tabs()->currentIndex(), 0);
        QCOMPARE(tabs()->tabText(1), QString("甲"));
        QCOMPARE(task_list()->topLevelItem(0)->text(0), QString("甲"));
        QCOMPARE(task_list()->topLevelItem(0)->text(1), QString("3"));
        QTRY_COMPARE(window.result_model(1)->rowCount(), 3);
        QTRY_COMPARE(window.status_text(1), QString("3位用户信息分析完成可以导出"));
        QCOMPARE(window.status_text(0), QString("状态：加载完成"));

        // The toolbar command resets both parts of the status line; the
        // collected keyword now opens from the database, without a task.
        with_search_window([&](SearchWindow& search) {
            QCOMPARE(window.status_text(0), QString("状态：程序准备好，可以搜索"));
            QCOMPARE(window.status_text(1), QString());
            auto* box = search.findChild<QLineEdit*>("编辑框1");
            box->setText("甲");
            QTest::keyClick(box, Qt::Key_Return);
        });
        QCOMPARE(tabs()->count(), 3);
        QTRY_COMPARE(window.result_model(2)->rowCount(), 3);
        QCOMPARE(task_list()->topLevelItemCount(), 1);
        QCOMPARE(dialogs_->messages.size(), size_t(1));
    }

    void storedKeywordIsReopenedWithoutARequest() {
        ContactRecord record;
        record[kCompanyName] = "存储的公司";
        record[kAddress] = "第一行\n第二行";
        std::vector<ContactRecord> records;
        for (int i = 0; i < 3; ++i) {
            record[kAccount] = "s" + std::to_string(i);
            records.push_back(record);
        }
        store_collected("乙", records);
        MainWindow& window = open_window();
        market_->clear_requests();
        with_search_window([&](SearchWindow& search) {
            search.findChild<QLineEdit*>("编辑框1")->insert("乙");
            QTest::mouseClick(search.findChild<QPushButton*>("an1"), Qt::LeftButton);
        });
        QCOMPARE(tabs()->count(), 2);
        QTRY_COMPARE(window.result_model(1)->rowCount(), 3);
        ResultListModel* model = window.result_model(1);
        QCOMPARE(model->index(2, kAccount).data().toString(), QString("s2"));
        QCOMPARE(model->index(0, kAddress).data().toString(), QString("第一行\n第二行"));
        QCOMPARE(model->index(0, 12).data().toString(), QString());
        QCOMPARE(model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString("用户账号"));
        QCOMPARE(task_list()->topLevelItemCount(), 0);
        QVERIFY(market_->requests().empty());
    }

    void onlyTheSelectedTabShowsItsList() {
        serve_members(*market_, "一", "x", 2);
        serve_members(*market_, "二", "y", 4);
        MainWindow& window = open_window();
        submit_by_enter({"一", "二"});
        QTRY_VERIFY(tasks_done(2));
        // Each task filled only its own list.
        QTRY_COMPARE(window.result_model(1)->rowCount(), 2);
        QTRY_COMPARE(window.result_model(2)->rowCount(), 4);
        QCOMPARE(window.result_model(1)->index(1, kAccount).data().toString(), QString("x1"));
        QCOMPARE(window.result_model(2)->index(3, kAccount).data().toString(), QString("y3"));

        QVERIFY(!window.result_list(1)->isVisible());
        QVERIFY(!window.result_list(2)->isVisible());
        tabs()->setCurrentIndex(2);
        QVERIFY(window.result_list(2)->isVisible());
        QVERIFY(!window.result_list(1)->isVisible());
        tabs()->setCurrentIndex(0);
        QVERIFY(!window.result_list(1)->isVisible());
        QVERIFY(!window.result_list(2)->isVisible());
        tabs()->setCurrentIndex(1);
        QVERIFY(window.result_list(1)->isVisible());
        QVERIFY(!window.result_list(2)->isVisible());

        auto* view = window.result_list(1);
        // The template's widths at least; wider where headings or contents need it.
        QVERIFY(view->horizontalHeader()->sectionSize(0) >= 100);
        QVERIFY(view->horizontalHeader()->sectionSize(2) >= 70);
        QCOMPARE(view->model()->columnCount(), 13);
        QCOMPARE(
            view->model()->index(0, kMobile).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
            Qt::Alignment(Qt::AlignCenter));
    }

    void helpAboutAndExit() {
        MainWindow& window = open_window();
        // Help is a window of its own, not a message.
        window.on_toolbar_click(2);
        QVERIFY(dialogs_->messages.empty());
        auto* help = window.findChild<QWidget*>("帮助窗口");
        QVERIFY(help != nullptr && help->isVisible());
        QCOMPARE(help->windowTitle(), QString("帮助"));
        window.on_toolbar_click(3);
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(dialogs_->messages[0].icon, Dialogs::Icon::kInformation);
        QCOMPARE(dialogs_->messages[0].caption, QString("信息："));
        const QStringList about = dialogs_->messages[0].text.split("\r\n");
        QCOMPARE(about.size(), 3);
        QCOMPARE(about[0], MainWindow::caption());
        QCOMPARE(about[1], QString("版本：v0.1"));
        QVERIFY(about[2].contains("帮助"));
        QVERIFY(!dialogs_->messages[0].text.contains("example"));
        QVERIFY(ended_.empty());
        window.on_toolbar_click(7);  // no such button: nothing
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        window.on_toolbar_click(5);
        QCOMPARE(ended_, std::vector<int>{0});
    }

    void exportAsksForAResultTabFirst() {
        MainWindow& window = open_window();
        window.on_toolbar_click(1);
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.startsWith("请先选中"));
        QVERIFY(dialogs_->save_requests.empty());
    }

    void exportWritesTheSelectedList() {
        serve_members(*market_, "导", "e", 3);
        MainWindow& window = open_window();
        submit_by_enter({"导"});
        QTRY_VERIFY(tasks_done(1));
        QTRY_COMPARE(window.result_model(1)->rowCount(), 3);
        tabs()->setCurrentIndex(1);

        // Cancelling the dialog does nothing.
        window.on_toolbar_click(1);
        QCOMPARE(dialogs_->save_requests,
                 std::vector<QString>{"导出资料|Excel 工作簿 (*.xlsx);;CSV 文件 (*.csv)|xlsx"});
        QVERIFY(dialogs_->messages.empty());

        const auto path = folder_->path() / "导出.xlsx";
        dialogs_->save_answer = QString::fromStdString(path.string());
        window.on_toolbar_click(1);
        QTRY_VERIFY(!window.exporting());
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(dialogs_->messages[0].text,
                 "导出成功!\r\n已导出 3 行到 " + QDir::toNativeSeparators(dialogs_->save_answer));
        QCOMPARE(dialogs_->messages[0].icon, Dialogs::Icon::kInformation);
        WorkbookReader workbook;
        std::string error;
        QVERIFY2(workbook.read(path.string(), &error), error.c_str());
        QCOMPARE(workbook.last_row(), 4);
        QCOMPARE(workbook.text("C1"), std::string("用户账户"));
        QCOMPARE(workbook.text("A2"), std::string("公司e0"));
        QCOMPARE(workbook.text("C4"), std::string("e2"));
        QCOMPARE(workbook.number_format("C4"), 49);
        QVERIFY(!window.findChild<QDialog*>("export_window") ||
                !window.findChild<QDialog*>("export_window")->isVisible());

        // A folder that does not exist: the failure is said, nothing is written.
        dialogs_->messages.clear();
        dialogs_->save_answer =
            QString::fromStdString((folder_->path() / "missing" / "x.xlsx").string());
        window.on_toolbar_click(1);
        QTRY_VERIFY(!window.exporting());
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.startsWith("导出失败"));
        QVERIFY(!dialogs_->messages[0].details.isEmpty());
        QVERIFY(!std::filesystem::exists(folder_->path() / "missing"));
    }

    // Closing the window while an export runs stops it: the temporary file
    // goes, the file under the chosen name stays as it was, nothing is said.
    void closingDuringAnExportLeavesNoFile() {
        serve_members(*market_, "大", "d", 1);
        MainWindow& window = open_window();
        submit_by_enter({"大"});
        QTRY_VERIFY(tasks_done(1));
        add_many_rows(window, 1, 100000);
        tabs()->setCurrentIndex(1);
        const auto path = folder_->path() / "大.xlsx";
        std::ofstream(path) << "old contents";
        dialogs_->save_answer = QString::fromStdString(path.string());
        auto temporary_files = [&] {
            int count = 0;
            for (const auto& entry : std::filesystem::directory_iterator(folder_->path())) {
                count += entry.path().extension() == ".tmp" ? 1 : 0;
            }
            return count;
        };
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (temporary_files() > 0) {
                window.close();
                closer.stop();
            }
        });
        closer.start(1);
        window.on_toolbar_click(1);
        QTRY_VERIFY(!closer.isActive());
        QVERIFY(!window.exporting());
        QVERIFY(dialogs_->messages.empty());
        QCOMPARE(temporary_files(), 0);
        std::ifstream old(path);
        std::string contents;
        std::getline(old, contents);
        QCOMPARE(contents, std::string("old contents"));
    }

    void hostileKeywordsThroughTheSearchWindow() {
        store_collected("Phone", {ContactRecord{}});
        serve_members(*market_, "phone", "p", 2);
        MainWindow& window = open_window();
        const QStringList keywords = {QString(10000, QChar(0x952E)),   "a\tb\x01c",     "   ",  "😀",
                                      "x'); DROP TABLE \"Phone\"; --", "sqlite_master", "phone"};
        with_search_window([&](SearchWindow& search) {
            auto* box = search.findChild<QLineEdit*>("编辑框1");
            for (const QString& keyword : keywords) {
                box->setText(keyword);
                QTest::mouseClick(search.findChild<QPushButton*>("an1"), Qt::LeftButton);
            }
        });
        // Five tables made (SQLite's own name too), two refused with the
        // reason: the emoji, which cannot be searched, before anything is
        // made for it.
        QCOMPARE(tabs()->count(), 6);
        QCOMPARE(tabs()->tabText(3), QString("   "));
        QCOMPARE(tabs()->tabText(5), QString("sqlite_master"));
        QCOMPARE(dialogs_->messages.size(), size_t(2));
        for (const auto& message : dialogs_->messages) {
            QCOMPARE(message.text, QString("失败"));
        }
        QCOMPARE(dialogs_->messages[0].details,
                 QString("U+1F600 is not a GBK character: the keyword cannot be searched"));
        QVERIFY(dialogs_->messages[1].details.contains("letter case"));
        // A refused keyword starts no task.
        QTRY_VERIFY(tasks_done(5));
        window.stop_collection();
        std::string error;
        auto store = SqliteStore::open(folder_->str(), &error);
        long long rows = 0;
        QVERIFY(store->count_rows("Phone", &rows, nullptr));
        QCOMPARE(rows, 1LL);
    }

    void refusedRowsAreReported() {
        serve_members(*market_, "删", "d", 40, 20);
        // The last cards come late enough that the table is gone before
        // they are stored, however slow the machine.
        for (int i = 30; i < 40; ++i) {
            market_->set_behaviour("card/d" + std::to_string(i), {.delay_ms = 2000});
        }
        MainWindow& window = open_window();
        submit_by_enter({"删"});
        QTRY_VERIFY(window.result_model(1)->rowCount() >= 3);
        // The keyword's table goes away under the running task.
        sqlite3* db = nullptr;
        const std::string path = SqliteStore::database_path(folder_->str());
        QCOMPARE(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);
        QCOMPARE(sqlite3_exec(db, "DROP TABLE \"删\"", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        QTRY_VERIFY(tasks_done(1));
        // Said once, in the tab's banner, with no message box to answer.
        auto* banner = window.result_page(1)->findChild<QLabel*>("数据库提示");
        QTRY_VERIFY(banner != nullptr && !banner->isHidden());
        QVERIFY(banner->text().contains("删"));
        QVERIFY(banner->toolTip().contains("no such table"));
        QVERIFY(dialogs_->messages.empty());
        QCOMPARE(window.status_text(0), QString("状态：数据保存失败"));
        // Every member is still shown in its list.
        QCOMPARE(window.result_model(1)->rowCount(), 40);
    }

    void aFailedSearchPageShowsInTheTaskList() {
        MainWindow& window = open_window();
        market_->stop();
        submit_by_enter({"断"});
        // The row shows while the task waits for its turn; the failure follows.
        QTRY_COMPARE(task_list()->topLevelItemCount(), 1);
        const QTreeWidgetItem* row = task_list()->topLevelItem(0);
        QTRY_COMPARE(row->text(TaskList::kState), QString("失败"));
        QCOMPARE(row->text(0), QString("断"));
        QCOMPARE(row->text(1), QString("0"));
        QVERIFY2(row->toolTip(TaskList::kState).startsWith("搜索页"),
                 qPrintable(row->toolTip(TaskList::kState)));
        QCOMPARE(row->toolTip(0), row->toolTip(TaskList::kState));
        QVERIFY(window.status_text(0).startsWith("失败："));
        QCOMPARE(window.result_model(1)->rowCount(), 0);
        QVERIFY(dialogs_->messages.empty());
    }

    void aFailingCardIsCountedAndNotStored() {
        collect_with_failing_card();
        MainWindow& window = *window_;
        const QTreeWidgetItem* row = task_list()->topLevelItem(0);
        QCOMPARE(row->text(1), QString("3"));
        QCOMPARE(row->text(2), QString("2"));
        QCOMPARE(row->text(3), QString("1"));
        QVERIFY2(row->toolTip(3).contains("503"), qPrintable(row->toolTip(3)));
        QCOMPARE(accounts_of(*window.result_model(1)), QStringList({"b0", "b2"}));
        QCOMPARE(stored_accounts("坏"), QStringList({"b0", "b2"}));
        QVERIFY(dialogs_->messages.empty());
    }

    void resubmittingCollectsOnlyTheFailedMember() {
        collect_with_failing_card();
        MainWindow& window = *window_;
        market_->clear_behaviours();
        market_->clear_requests();
        submit_by_enter({"坏"});
        QCOMPARE(tabs()->count(), 3);
        QCOMPARE(tabs()->tabText(2), QString("坏 (2)"));
        // The resumed task takes over the keyword's row, and counts the
        // members stored before as done.
        QTRY_COMPARE(static_cast<TaskList*>(task_list())->task_of(task_list()->topLevelItem(0)), 2);
        QCOMPARE(task_list()->topLevelItemCount(), 1);
        QTRY_COMPARE(task_list()->topLevelItem(0)->text(2), QString("3"));
        QTRY_COMPARE(window.status_text(1), QString("3位用户信息分析完成可以导出"));
        ResultListModel* model = window.result_model(2);
        QTRY_COMPARE(accounts_of(*model), QStringList({"b0", "b2", "b1"}));
        QCOMPARE(model->cell_text(2, kCompanyName), std::string("公司b1"));
        QCOMPARE(stored_accounts("坏"), QStringList({"b0", "b2", "b1"}));
        QStringList asked;
        for (const ReceivedRequest& request : market_->requests()) {
            asked << QString::fromStdString(request.resource_key);
        }
        asked.sort();  // a member's card and contact page are asked for at once
        QCOMPARE(asked, QStringList({"card/b1", "contact/b1"}));
        QVERIFY(dialogs_->messages.empty());
    }

    void storedAndNewRowsKeepTheirPlaces() {
        // A resumed list: three rows were stored before its task began, and
        // the task's first row (row 3) is on show, and stored, before the
        // loader reads the table. The loader fills rows 0 to 2 only.
        std::string error;
        auto store = SqliteStore::open(folder_->str(), &error);
        QVERIFY2(store, error.c_str());
        QVERIFY2(store->ensure_table("续", &error), error.c_str());
        for (const char* account : {"stored0", "stored1", "stored2", "new"}) {
            ContactRecord record;
            record[kAccount] = account;
            QVERIFY2(store->insert_record("续", record, -1, &error), error.c_str());
        }
        ResultListModel model;
        model.apply_cells({{3, kAccount, "new"}, {3, kCompanyName, "公司new"}});
        StoredRowsLoader loader(*store, "续", 3, &model, {});
        QTRY_COMPARE(accounts_of(model), QStringList({"stored0", "stored1", "stored2", "new"}));
        QCOMPARE(model.cell_text(3, kCompanyName), std::string("公司new"));
        model.apply_cells({{4, kAccount, "newer"}});
        QCOMPARE(accounts_of(model),
                 QStringList({"stored0", "stored1", "stored2", "new", "newer"}));
    }

    void aKeywordClaimedElsewhereIsRefused() {
        std::string error;
        auto other = SqliteStore::open(folder_->str(), &error);
        QVERIFY2(other, error.c_str());
        QVERIFY2(other->claim("丙", &error), error.c_str());
        serve_members(*market_, "丙", "c", 2);
        MainWindow& window = open_window();
        market_->clear_requests();
        submit_by_enter({"丙"});
        QCOMPARE(tabs()->count(), 1);
        QCOMPARE(task_list()->topLevelItemCount(), 0);
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(dialogs_->messages[0].text,
                 QString("关键字「丙」正在由其他采集器采集，本次未采集。"));
        QVERIFY(dialogs_->messages[0].details.contains("another collector"));
        QVERIFY(market_->requests().empty());

        // Once the other collector lets it go, the keyword is collected here.
        other->release("丙");
        submit_by_enter({"丙"});
        QCOMPARE(tabs()->count(), 2);
        QTRY_VERIFY(tasks_done(1));
        QTRY_COMPARE(window.result_model(1)->rowCount(), 2);
    }

    void escapeWhileTasksRunEndsCleanly() {
        serve_members(*market_, "慢", "s", 50, 100);
        MainWindow& window = open_window();
        submit_by_enter({"慢"});
        QTRY_VERIFY(window.result_model(1)->rowCount() >= 2);
        const auto start = std::chrono::steady_clock::now();
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(3));
        // What was shown is what was stored; the task did not run on.
        const int shown = window.result_model(1)->rowCount();
        QVERIFY(shown < 50);
        std::string error;
        auto store = SqliteStore::open(folder_->str(), &error);
        long long stored = 0;
        QVERIFY(store->count_rows("慢", &stored, nullptr));
        QCOMPARE(stored, static_cast<long long>(shown));
    }

    // Stock buttons and dialogs speak the program's language.
    void stockDialogsSpeakChinese() {
        std::unique_ptr<QTranslator> chinese = install_chinese_translations();
        QVERIFY(chinese != nullptr);
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Yes |
                                 QDialogButtonBox::No | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
        QVERIFY(buttons.button(QDialogButtonBox::Yes)->text().startsWith(QStringLiteral("是")));
        QVERIFY(
            buttons.button(QDialogButtonBox::Cancel)->text().startsWith(QStringLiteral("取消")));
        QCoreApplication::removeTranslator(chinese.get());
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::MainWindowTest>(argc, argv);
}

#include "main_window_test.moc"
