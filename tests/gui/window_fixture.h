#pragma once

// The window tests that drive tasks and result tabs: the stored rows behind
// the window, what its lists show, and the pick of an entry from a context
// menu, which runs its own event loop.

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/main_window.h"
#include "app/result_list_model.h"
#include "app/result_page.h"
#include "app/task_list.h"
#include "gui_fixture.h"
#include "services/fetch.h"
#include "storage/sqlite_store.h"

namespace qinglan {

// The shared window fixture, with what the tests of tasks and result tabs
// ask of the window and its database.
class CollectingWindowFixture : public WindowFixture {
protected:
    MainWindow& started_window(int parallel = 8) { return open_window({}, parallel); }

    std::unique_ptr<SqliteStore> open_store() {
        std::string error;
        auto store = SqliteStore::open(folder_->str(), &error);
        if (!store) {
            qFatal("%s", error.c_str());
        }
        return store;
    }

    // Leaves `keyword` stored and complete with `rows` rows, as a finished
    // collection does.
    void store_collected(const std::string& keyword, const std::vector<ContactRecord>& rows) {
        std::string error;
        auto store = open_store();
        std::vector<std::string> accounts;
        for (const ContactRecord& record : rows) {
            accounts.push_back(record[kAccount]);
        }
        QVERIFY2(store->ensure_table(keyword, &error), error.c_str());
        QVERIFY2(store->save_member_list(keyword, accounts, false, &error), error.c_str());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            QVERIFY2(store->insert_record(keyword, rows[i], static_cast<int>(i), &error),
                     error.c_str());
        }
    }

    long long stored_count(const std::string& keyword) {
        long long rows = -1;
        open_store()->count_rows(keyword, &rows, nullptr);
        return rows;
    }

    TaskList* task_list() { return window_->findChild<TaskList*>("超级列表框1"); }

    QString state_of(int task) { return task_list()->row(task)->text(TaskList::kState); }

    bool ended(int task) {
        return task_list()->row(task) != nullptr && !task_list()->running(task);
    }

    // The account column of what result tab `tab` shows, top to bottom.
    QStringList shown_accounts(int tab) {
        ResultListModel* model = window_->result_model(tab);
        QStringList accounts;
        for (int row = 0; row < model->rowCount(); ++row) {
            accounts << model->index(row, kAccount).data().toString();
        }
        return accounts;
    }

    // Runs `open`, which shows a context menu, and picks the entry named
    // `name` in it when that is enabled. Whether it was enabled, or false
    // when no menu or no such entry showed.
    static bool pick_from_menu(const std::function<void()>& open, const QString& name) {
        bool enabled = false;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) {
                return;
            }
            auto* action = menu->findChild<QAction*>(name);
            enabled = action != nullptr && action->isEnabled();
            if (!enabled) {
                menu->close();
                return;
            }
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        open();
        return enabled;
    }

    bool pick_for_task(int task, const QString& name) {
        TaskList* list = task_list();
        return pick_from_menu(
            [&] {
                const QPoint at = list->visualItemRect(list->row(task)).center();
                QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                        list->viewport()->mapToGlobal(at));
                QApplication::sendEvent(list->viewport(), &event);
            },
            name);
    }

    bool pick_for_tab(int tab, const QString& name) {
        QTabBar* bar = tabs()->tabBar();
        return pick_from_menu(
            [&] {
                const QPoint at = bar->tabRect(tab).center();
                QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
                QApplication::sendEvent(bar, &event);
            },
            name);
    }
};

// The test program of one window test class `Test`.
#define QINGLAN_WINDOW_TEST_MAIN(Test)                     \
    int main(int argc, char** argv) {                      \
        return qinglan::run_window_test<Test>(argc, argv); \
    }

}  // namespace qinglan
