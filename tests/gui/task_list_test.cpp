// The task list: each task's state and progress, the summary once all have
// ended, and stopping and continuing one task from its menu.

#include <QRegularExpression>
#include <QSplitter>
#include <QTimer>

#include "window_fixture.h"

namespace qinglan {

class TaskListTest : public QObject, protected CollectingWindowFixture {
    Q_OBJECT

private:
    void serve_slow_search(const std::string& keyword, int delay_ms) {
        market_->set_behaviour("search/" + encode_keyword(utf8_to_gbk(keyword)),
                               {.delay_ms = delay_ms});
    }

private slots:
    void cleanup() { cleanup_fixture(); }

    void eachTaskShowsItsState() {
        // One transfer at a time: the second task waits while the first
        // one's slow search page holds the only connection.
        init_fixture({.connections = 1});
        serve_members(*market_, "慢", "s", 2);
        serve_slow_search("慢", 2000);  // long enough for a slow (sanitizer) build
        serve_members(*market_, "等", "w", 3);
        market_->set_behaviour("card/w1", {.status = 503});
        serve_members(*market_, "断", "x", 1);
        market_->set_behaviour("search/" + encode_keyword(utf8_to_gbk("断")), {.status = 503});
        MainWindow& window = started_window();
        // Tasks begin on the engine's threads, so two submitted at once may
        // reach the connection in either order: the others come once the
        // first holds it.
        window.submit_keyword("慢");
        QTRY_COMPARE(state_of(1), QString("采集中"));
        window.submit_keyword("等");
        window.submit_keyword("断");
        QCOMPARE(task_list()->topLevelItemCount(), 3);
        QCOMPARE(state_of(2), QString("排队"));
        QCOMPARE(state_of(3), QString("排队"));
        QCOMPARE(task_list()->row(2)->data(TaskList::kProgress, TaskList::kProgressRole),
                 QVariant());
        QCOMPARE(window.status_text(2), QString());

        QTRY_VERIFY_WITH_TIMEOUT(ended(1) && ended(2) && ended(3), 10000);
        QCOMPARE(state_of(1), QString("完成"));
        QCOMPARE(task_list()->row(1)->data(TaskList::kProgress, TaskList::kProgressRole), 100);
        // A member that failed leaves the task incomplete, with the failure counted.
        QCOMPARE(state_of(2), QString("未完成"));
        QCOMPARE(task_list()->row(2)->text(TaskList::kFailed), QString("1"));
        QVERIFY(task_list()->row(2)->toolTip(TaskList::kState).contains("1 位用户采集失败"));
        QVERIFY(task_list()->row(2)->toolTip(TaskList::kFailed).contains("503"));
        QCOMPARE(state_of(3), QString("失败"));
        const QString reason = task_list()->row(3)->toolTip(TaskList::kState);
        QVERIFY2(reason.startsWith("搜索页") && reason.contains("503"), qPrintable(reason));
        QCOMPARE(task_list()->row(3)->text(TaskList::kTotal), QString("0"));
        QCOMPARE(task_list()->row(3)->data(TaskList::kProgress, TaskList::kProgressRole),
                 QVariant());
        QCOMPARE(window.status_text(2),
                 QString("全部任务已结束：保存 4 行，1 位用户采集失败，1 个关键字搜索失败"));

        // The next round of tasks is summed up on its own.
        serve_members(*market_, "再", "r", 1);
        window.submit_keyword("再");
        QTRY_VERIFY(ended(4));
        QCOMPARE(window.status_text(2), QString("全部任务已结束：保存 1 行，0 位用户采集失败"));
        // A search that failed alone is said as such.
        window.submit_keyword("断");
        QTRY_VERIFY(ended(5));
        QCOMPARE(window.status_text(2), QString("全部任务已结束：1 个关键字搜索失败"));
        QVERIFY(dialogs_->messages.empty());
    }

    // A card answered with 503 is tried again after a wait: meanwhile the
    // task's row says so, with the attempt.
    void aRetryShows() {
        init_fixture();
        FetchSettings fetch = fetch_settings();
        fetch.retry_base_ms = 600;
        fetch.retries = 1;
        set_fetch_settings(fetch);
        serve_members(*market_, "重试", "t", 2);
        market_->set_behaviour("card/t0", {.status = 503});
        MainWindow& window = started_window();
        window.submit_keyword("重试");
        QTRY_COMPARE(state_of(1), QString("重试中（第2次）"));
        QTRY_VERIFY_WITH_TIMEOUT(ended(1), 10000);
        QCOMPARE(state_of(1), QString("未完成"));
    }

    // One keyword, one row: collecting a keyword again takes over its row,
    // and 清除已结束 removes the rows of the tasks that ended.
    void aKeywordKeepsItsRow() {
        init_fixture();
        serve_members(*market_, "塑料", "p", 3);
        market_->set_behaviour("card/p1", {.status = 503});
        serve_members(*market_, "慢", "s", 4, 300);
        MainWindow& window = started_window();
        window.submit_keyword("塑料");
        QTRY_VERIFY_WITH_TIMEOUT(ended(1), 10000);
        QCOMPARE(state_of(1), QString("未完成"));
        market_->set_behaviour("card/p1", {});
        QVERIFY(pick_for_task(1, "task_continue"));
        QTRY_VERIFY_WITH_TIMEOUT(ended(2), 10000);
        QCOMPARE(task_list()->topLevelItemCount(), 1);
        QCOMPARE(task_list()->task_of(task_list()->topLevelItem(0)), 2);
        QCOMPARE(state_of(2), QString("完成"));
        QCOMPARE(task_list()->row(2)->text(TaskList::kFailed), QString());
        QCOMPARE(stored_count("塑料"), 3);
        // Re-collected, it still has its one row.
        dialogs_->confirm_answer = true;
        window.collect_again(1);
        QTRY_VERIFY_WITH_TIMEOUT(ended(3), 10000);
        QCOMPARE(task_list()->topLevelItemCount(), 1);

        window.submit_keyword("慢");
        QTRY_COMPARE(task_list()->topLevelItemCount(), 2);
        QVERIFY(pick_for_task(4, "task_clear"));
        QCOMPARE(task_list()->topLevelItemCount(), 1);
        QVERIFY(task_list()->row(4) != nullptr && running(4));
        QTRY_VERIFY_WITH_TIMEOUT(ended(4), 10000);
        QVERIFY(pick_for_task(4, "task_clear"));
        QCOMPARE(task_list()->topLevelItemCount(), 0);
    }

    // With two tasks running, the status line's middle part counts the
    // members of one of them until it ends: its total never changes under
    // way and its count never goes back.
    void theStatusLineFollowsOneTask() {
        init_fixture();
        serve_members(*market_, "甲", "a", 6, 40);
        serve_members(*market_, "乙", "b", 4, 60);
        MainWindow& window = started_window();
        QStringList seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            const QString text = window.status_text(1);
            if (seen.isEmpty() || seen.back() != text) {
                seen << text;
            }
        });
        watch.start(2);
        window.submit_keyword("甲");
        window.submit_keyword("乙");
        QTRY_VERIFY_WITH_TIMEOUT(ended(1) && ended(2), 10000);
        watch.stop();
        const QRegularExpression progress("^正在分析用户(\\d+)/(\\d+)位的信息$");
        int totals_shown = 0;
        int last_total = -1;
        int last_count = 0;
        for (const QString& text : seen) {
            const QRegularExpressionMatch match = progress.match(text);
            if (!match.hasMatch()) {
                continue;
            }
            const int count = match.captured(1).toInt();
            const int total = match.captured(2).toInt();
            if (total != last_total) {
                ++totals_shown;
                last_total = total;
            } else {
                QVERIFY2(count >= last_count, qPrintable(seen.join(" | ")));
            }
            last_count = count;
        }
        QVERIFY2(totals_shown >= 1 && totals_shown <= 2, qPrintable(seen.join(" | ")));
        QCOMPARE(window.status_text(2), QString("全部任务已结束：保存 10 行，0 位用户采集失败"));
    }

    void stoppingOneTaskOfThree() {
        init_fixture();
        for (const char* prefix : {"a", "b", "c"}) {
            serve_members(*market_, std::string("停") + prefix, prefix, 6, 150);
        }
        MainWindow& window = started_window(1);
        for (const char* keyword : {"停a", "停b", "停c"}) {
            window.submit_keyword(QString::fromUtf8(keyword));
        }
        QTRY_VERIFY(task_list()->row(2)->text(TaskList::kDone).toInt() >= 1);
        // Only what can be done is offered.
        QVERIFY(!pick_for_task(2, "task_continue"));
        QVERIFY(pick_for_task(2, "task_stop"));
        QTRY_COMPARE(state_of(2), QString("已停止"));
        QVERIFY(!pick_for_task(2, "task_stop"));
        QVERIFY(running(1) || state_of(1) == "完成");
        QTRY_VERIFY_WITH_TIMEOUT(ended(1) && ended(3), 10000);
        QCOMPARE(state_of(1), QString("完成"));
        QCOMPARE(state_of(3), QString("完成"));
        QCOMPARE(stored_count("停a"), 6);
        QCOMPARE(stored_count("停c"), 6);
        const long long stopped_at = stored_count("停b");
        QVERIFY2(stopped_at >= 1 && stopped_at < 6, qPrintable(QString::number(stopped_at)));
        QVERIFY(!pick_for_task(1, "task_continue"));

        // 继续 collects the rest into the stopped task's own tab.
        market_->clear_requests();
        QVERIFY(pick_for_task(2, "task_continue"));
        QCOMPARE(tabs()->count(), 4);
        // The keyword's row serves its new task.
        QCOMPARE(task_list()->topLevelItemCount(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(ended(4), 10000);
        QCOMPARE(state_of(4), QString("完成"));
        QCOMPARE(stored_count("停b"), 6);
        QTRY_COMPARE(shown_accounts(2), QStringList({"b0", "b1", "b2", "b3", "b4", "b5"}));
        // Only the members left were asked for.
        int cards = 0;
        for (const auto& request : market_->requests()) {
            cards += request.target.find("loginId=b") != std::string::npos ? 1 : 0;
        }
        QCOMPARE(cards, 6 - static_cast<int>(stopped_at));
        QVERIFY(dialogs_->messages.empty());
    }

    void fiveRowsShowAndTheSplitterMoves() {
        init_fixture();
        MainWindow& window = started_window();
        // Search pages that are not served list no members: each task ends at once.
        for (int i = 0; i < 5; ++i) {
            window.submit_keyword(QString("空%1").arg(i));
        }
        QTRY_VERIFY(ended(5));
        TaskList* list = task_list();
        for (int task = 1; task <= 5; ++task) {
            const QRect row = list->visualItemRect(list->row(task));
            QVERIFY2(row.bottom() < list->viewport()->height(), qPrintable(QString::number(task)));
        }
        auto* splitter = window.findChild<QSplitter*>("分隔条1");
        QVERIFY(splitter != nullptr);
        QCOMPARE(splitter->indexOf(tabs()), 1);
        const int before = list->height();
        const QList<int> sizes = splitter->sizes();
        splitter->setSizes({sizes[0] + 60, sizes[1] - 60});
        QTRY_VERIFY(list->height() >= before + 50);
    }

private:
    bool running(int task) { return task_list()->running(task); }
};

}  // namespace qinglan

QINGLAN_WINDOW_TEST_MAIN(qinglan::TaskListTest)

#include "task_list_test.moc"
