// The search window with real message boxes and real key events: Enter on
// a box never submits the keyword again, and a refused keyword runs
// nothing.

#include <QMessageBox>
#include <QTreeWidget>

#include "gui_fixture.h"

namespace qinglan {

// Real message boxes, each closed by Enter pressed on it as a user does; the
// key's release follows once the box is gone, to whatever then has the focus.
class EnterClosesBoxes final : public Dialogs {
public:
    void message(QWidget* parent, const QString& text, Icon icon, const QString& caption,
                 const QString& details) override {
        texts.push_back(text);
        const bool first = texts.size() == 1;
        QTimer::singleShot(0, [first] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            if (first) {
                QVERIFY(QTest::qWaitForWindowActive(box));
                QVERIFY(box->focusWidget() != nullptr);
                QTest::keyPress(box->focusWidget(), Qt::Key_Return);
            } else {
                box->accept();  // a repeat: end it without another loop
            }
        });
        boxes_.message(parent, text, icon, caption, details);
        if (first) {
            // The window manager gives the focus back to the search window.
            QWidget* search = QApplication::activeModalWidget();
            QVERIFY(search != nullptr);
            search->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(search));
            focus_at_release = QApplication::focusWidget();
            QVERIFY(focus_at_release != nullptr);
            QTest::keyRelease(focus_at_release, Qt::Key_Return);
        }
    }
    QString save_file_name(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }

    std::vector<QString> texts;
    QWidget* focus_at_release = nullptr;

private:
    QtDialogs boxes_;
};

class SearchWindowTest : public QObject, public WindowFixture {
    Q_OBJECT

private slots:
    void init() { init_fixture(); }
    void cleanup() { cleanup_fixture(); }

    void enterOnTheFailureBoxSubmitsNothing() {
        EnterClosesBoxes boxes;
        MainWindow window(settings(), boxes);
        window.prepare_database();
        window.show();
        // A name the database keeps for itself: its table cannot be made.
        serve_members(*market_, "sqlite_x", "q", 2);
        market_->clear_requests();
        QLineEdit* box = nullptr;
        QTimer::singleShot(0, [&] {
            auto* search = qobject_cast<SearchWindow*>(QApplication::activeModalWidget());
            QVERIFY(search != nullptr);
            box = search->findChild<QLineEdit*>("编辑框1");
            box->setText("sqlite_x");
            QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClick(search, Qt::Key_Escape);
        });
        window.open_search_window();
        QCOMPARE(boxes.texts, std::vector<QString>{"失败"});
        // The release really reached the keyword box, and did nothing there.
        QCOMPARE(boxes.focus_at_release, static_cast<QWidget*>(box));
        // No task, no tab, not a single request.
        QCOMPARE(window.findChild<QTabWidget*>("选择夹1")->count(), 1);
        QCOMPARE(window.findChild<QTreeWidget*>("超级列表框1")->topLevelItemCount(), 0);
        QTest::qWait(50);
        QVERIFY(market_->requests().empty());
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::SearchWindowTest>(argc, argv);
}

#include "search_window_test.moc"
