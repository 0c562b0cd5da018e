// Closing the main window while a collection runs asks first, by every way
// of closing it; with nothing running, or when the program is told to end,
// it closes without a question.

#include <QAction>
#include <QLineEdit>
#include <QToolBar>

#include "app/task_list.h"
#include "gui_fixture.h"

namespace qinglan {

class ClosingTest : public QObject, public WindowFixture {
    Q_OBJECT

private:
    void submit(const QString& keyword) {
        with_search_window([&](SearchWindow& search) {
            auto* box = search.findChild<QLineEdit*>("编辑框1");
            box->clear();
            box->insert(keyword);
            QTest::keyClick(box, Qt::Key_Return);
        });
    }

    QAction* quit_action() {
        for (QAction* action : window_->findChild<QToolBar*>("工具条_顶部")->actions()) {
            if (action->objectName() == "command_quit") {
                return action;
            }
        }
        return nullptr;
    }

    // A slow keyword whose collection is under way.
    void start_collecting() {
        serve_members(*market_, "慢", "s", 50, 300);
        MainWindow& window = open_window();
        submit("慢");
        QTRY_VERIFY(window.result_model(1)->rowCount() >= 1);
    }

private slots:
    void init() { init_fixture(); }
    void cleanup() { cleanup_fixture(); }

    void everyWayOfClosingAsksWhileATaskRuns() {
        start_collecting();
        MainWindow& window = *window_;
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        dialogs_->confirm_answer = false;

        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
        window.close();
        QVERIFY(window.isVisible());
        quit_action()->trigger();
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(ended_.empty());
        QCOMPARE(dialogs_->questions.size(), std::size_t(4));
        for (const QString& question : dialogs_->questions) {
            QVERIFY(question.contains("正在采集"));
            QVERIFY(question.contains("退出"));
        }
        // Nothing was stopped: the collection goes on to its end.
        const int shown = window.result_model(1)->rowCount();
        QTRY_VERIFY(window.result_model(1)->rowCount() > shown);

        // 是 closes it.
        dialogs_->confirm_answer = true;
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QCOMPARE(dialogs_->questions.size(), std::size_t(5));
    }

    void quittingWithTheToolbarAsksToo() {
        start_collecting();
        dialogs_->confirm_answer = true;
        quit_action()->trigger();
        QCOMPARE(dialogs_->questions.size(), std::size_t(1));
        QCOMPARE(ended_, std::vector<int>({0}));
    }

    void nothingRunningClosesAtOnce() {
        serve_members(*market_, "快", "f", 2);
        MainWindow& window = open_window();
        submit("快");
        auto* tasks = window.findChild<TaskList*>("超级列表框1");
        QTRY_VERIFY(!tasks->running(1));
        dialogs_->confirm_answer = false;
        quit_action()->trigger();
        QCOMPARE(ended_, std::vector<int>({0}));
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QVERIFY(dialogs_->questions.empty());
    }

    // As a quit signal does: the program ends at once, with status 0.
    void endingTheProgramAsksNothing() {
        start_collecting();
        MainWindow& window = *window_;
        dialogs_->confirm_answer = false;
        window.end_program(0);
        QCOMPARE(ended_, std::vector<int>({0}));
        window.close();
        QVERIFY(!window.isVisible());
        QVERIFY(dialogs_->questions.empty());
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::ClosingTest>(argc, argv);
}

#include "closing_test.moc"
