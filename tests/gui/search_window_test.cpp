// The search window with real message boxes and real key events: Enter on
// a box never submits the keyword again, and a refused keyword runs
// nothing. The stored keywords it lists, and completes from; the keyword
// files it imports.

#include <QAbstractItemView>
#include <QCompleter>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include <fstream>
#include <string>

#include "gui_fixture.h"
#include "storage/sqlite_store.h"

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
    QString open_file_name(QWidget*, const QString&, const QString&) override { return {}; }
    bool confirm(QWidget*, const QString&) override { return false; }
    bool choose_export(QWidget*, const ExportOffer&, ExportChoice*) override { return false; }

    std::vector<QString> texts;
    QWidget* focus_at_release = nullptr;

private:
    QtDialogs boxes_;
};

class SearchWindowTest : public QObject, public WindowFixture {
    Q_OBJECT

private:
    // Stores `rows` of `members` accounts of the keyword's member list.
    void store_keyword(const std::string& keyword, int members, int rows) {
        std::string error;
        auto store = SqliteStore::open(folder_->str(), &error);
        QVERIFY2(store, error.c_str());
        QVERIFY2(store->ensure_table(keyword, &error), error.c_str());
        std::vector<std::string> accounts;
        for (int i = 0; i < members; ++i) {
            accounts.push_back(keyword + std::to_string(i));
        }
        QVERIFY2(store->save_member_list(keyword, accounts, false, &error), error.c_str());
        for (int i = 0; i < rows; ++i) {
            ContactRecord record;
            record[kAccount] = accounts[static_cast<std::size_t>(i)];
            QVERIFY2(store->insert_record(keyword, record, i, &error), error.c_str());
        }
    }

    // Types `text` into the box key by key, as a keyboard does.
    static void type(QLineEdit* box, const QString& text) {
        for (const QChar c : text) {
            QTest::sendKeyEvent(QTest::Click, box, static_cast<Qt::Key>(c.toUpper().unicode()),
                                QString(c), Qt::NoModifier);
        }
    }

    // Enter as the keyboard delivers it: to the completion offers while they
    // are shown, else to the keyword box.
    static void press_enter(QLineEdit* box) {
        const auto target = [box]() -> QWidget* {
            QWidget* offers = box->completer()->popup();
            return offers->isVisible() ? offers : box;
        };
        QTest::keyPress(target(), Qt::Key_Return);
        QTest::keyRelease(target(), Qt::Key_Return);
    }

    // Focuses the box of the search window, active as a user sees it.
    static QLineEdit* focused_box(SearchWindow& search) {
        search.activateWindow();
        [&] { QVERIFY(QTest::qWaitForWindowActive(&search)); }();
        auto* box = search.findChild<QLineEdit*>("编辑框1");
        box->setFocus();
        return box;
    }

private slots:
    void init() { init_fixture(); }
    void cleanup() { cleanup_fixture(); }

    void enterOnTheFailureBoxSubmitsNothing() {
        EnterClosesBoxes boxes;
        MainWindow window(settings(), boxes);
        window.prepare_database();
        window.show();
        // Another keyword's name in other letter case: its table cannot be made.
        store_keyword("ab", 0, 0);
        serve_members(*market_, "AB", "q", 2);
        market_->clear_requests();
        QLineEdit* box = nullptr;
        QTimer::singleShot(0, [&] {
            auto* search = qobject_cast<SearchWindow*>(QApplication::activeModalWidget());
            QVERIFY(search != nullptr);
            box = search->findChild<QLineEdit*>("编辑框1");
            box->setText("AB");
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

    void storedKeywordsAreListedAndCompleted() {
        store_keyword("甲", 3, 3);
        store_keyword("乙", 4, 1);
        store_keyword("phone", 2, 2);
        store_keyword("phonebook", 1, 1);
        open_window();
        with_search_window([&](SearchWindow& search) {
            auto* list = search.findChild<QTreeWidget*>("已存关键字");
            QVERIFY(list != nullptr);
            QVERIFY(list->isVisible());
            QStringList rows;
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* item = list->topLevelItem(i);
                rows << item->text(0) + "|" + item->text(1) + "|" + item->text(2);
            }
            QCOMPARE(rows, QStringList({"123|0|完成", "甲|3|完成", "乙|1|未完成", "phone|2|完成",
                                        "phonebook|1|完成"}));
            QCOMPARE(list->topLevelItem(2)->toolTip(2),
                     QString("已保存 1 / 4 位用户，再次提交即继续采集"));
            // The list sits below the keyword box and the buttons, inside the window.
            auto* box = search.findChild<QLineEdit*>("编辑框1");
            QVERIFY(list->geometry().top() >
                    search.findChild<QWidget*>("an1")->geometry().bottom());
            QVERIFY(search.rect().contains(list->geometry()));

            // A click puts the keyword into the box, and submits nothing.
            const QRect second = list->visualItemRect(list->topLevelItem(2));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
            QCOMPARE(box->text(), QString("乙"));
            QCOMPARE(tabs()->count(), 1);

            // Typing offers the stored keywords holding it; a click on an
            // offer puts it into the box and submits nothing.
            box->clear();
            search.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&search));
            box->setFocus();
            QTest::keyClicks(box, "HON");
            QCompleter* completer = box->completer();
            QTRY_VERIFY(completer->popup()->isVisible());
            QCOMPARE(completer->completionCount(), 2);
            QAbstractItemView* offers = completer->popup();
            const QModelIndex book = offers->model()->index(1, 0);
            QTest::mouseClick(offers->viewport(), Qt::LeftButton, {},
                              offers->visualRect(book).center());
            QCOMPARE(box->text(), QString("phonebook"));
            QCOMPARE(tabs()->count(), 1);

            // An offer chosen with the arrow keys is submitted by that same
            // Enter: the popup closes on the press, the release reaches the box.
            box->clear();
            QTest::keyClicks(box, "HON");
            QTRY_VERIFY(offers->isVisible());
            QTest::keyClick(offers, Qt::Key_Down);
            QTest::keyPress(offers, Qt::Key_Return);
            QVERIFY(!offers->isVisible());
            QTest::keyRelease(box, Qt::Key_Return);
            QCOMPARE(tabs()->count(), 2);
            QCOMPARE(tabs()->tabText(1), QString("phone"));
        });
        QTRY_COMPARE(window_->result_model(1)->rowCount(), 2);
        QVERIFY(dialogs_->messages.empty());
    }

    void importSubmitsEveryKeywordOfAFileOrNone() {
        serve_members(*market_, "手机", "p", 2);
        serve_members(*market_, "电脑 配件", "c", 1);
        const std::string list = folder_->str() + "/list.txt";
        std::ofstream(list, std::ios::binary) << "\xEF\xBB\xBF# 清单\r\n手机\r\n\r\n电脑 配件\r\n";
        // The second line is GBK, as a file saved in the wrong encoding.
        const std::string bad = folder_->str() + "/bad.txt";
        std::ofstream(bad, std::ios::binary) << "茶叶\n\xB2\xE8\n";
        open_window();
        market_->clear_requests();
        with_search_window([&](SearchWindow& search) {
            auto* import = search.findChild<QPushButton*>("导入关键字");
            QVERIFY(import != nullptr);
            QVERIFY(import->isVisible());
            QVERIFY(search.rect().contains(import->geometry()));
            QCOMPARE(import->text(), QString("导入关键字…"));

            // The dialog cancelled: nothing happens.
            QTest::mouseClick(import, Qt::LeftButton);
            QCOMPARE(dialogs_->open_requests,
                     std::vector<QString>{"导入关键字|关键字文件 (*.txt);;所有文件 (*)"});
            QCOMPARE(tabs()->count(), 1);

            // A bad line refuses the whole file, its good lines too.
            dialogs_->open_answer = QString::fromStdString(bad);
            QTest::mouseClick(import, Qt::LeftButton);
            QCOMPARE(dialogs_->messages.size(), std::size_t{1});
            QCOMPARE(dialogs_->messages[0].details,
                     QString::fromStdString(bad + ":2: the line is not UTF-8 text (byte 1)"));
            QCOMPARE(tabs()->count(), 1);
            QCOMPARE(window_->findChild<QTreeWidget*>("超级列表框1")->topLevelItemCount(), 0);

            // Every keyword of the file a task of its own, in file order.
            dialogs_->open_answer = QString::fromStdString(list);
            QTest::mouseClick(import, Qt::LeftButton);
            QCOMPARE(tabs()->count(), 3);
            QCOMPARE(tabs()->tabText(1), QString("手机"));
            QCOMPARE(tabs()->tabText(2), QString("电脑 配件"));
        });
        QCOMPARE(window_->findChild<QTreeWidget*>("超级列表框1")->topLevelItemCount(), 2);
        QTRY_COMPARE(window_->result_model(1)->rowCount(), 2);
        QTRY_COMPARE(window_->result_model(2)->rowCount(), 1);
        QCOMPARE(dialogs_->messages.size(), std::size_t{1});
        for (const auto& request : market_->requests()) {
            // Nothing of the refused file was searched for.
            QVERIFY(request.target.find("%B2%E8") == std::string::npos);
        }
    }
    void keywordsTypedOneAfterAnotherAreEachSubmitted() {
        const QStringList keywords = {"手机", "电子", "五金", "phone", "齿轮"};
        for (int i = 0; i < keywords.size(); ++i) {
            serve_members(*market_, keywords[i].toStdString(), "m" + std::to_string(i), 1);
        }
        open_window();
        with_search_window([&](SearchWindow& search) {
            QLineEdit* box = focused_box(search);
            for (const QString& keyword : keywords) {
                type(box, keyword);
                press_enter(box);
                // The submitted keyword stays in view, selected.
                QCOMPARE(box->selectedText(), keyword);
            }
        });
        QCOMPARE(tabs()->count(), 6);
        for (int i = 0; i < keywords.size(); ++i) {
            QCOMPARE(tabs()->tabText(i + 1), keywords[i]);
        }
        QCOMPARE(window_->findChild<QTreeWidget*>("超级列表框1")->topLevelItemCount(), 5);
    }

    void aStoredKeywordTypedIsSubmittedByOneEnter() {
        store_keyword("手机", 2, 2);
        store_keyword("手机壳", 1, 1);
        serve_members(*market_, "手", "h", 1);
        open_window();
        with_search_window([&](SearchWindow& search) {
            QLineEdit* box = focused_box(search);
            type(box, "手机");
            QAbstractItemView* offers = box->completer()->popup();
            QTRY_VERIFY(offers->isVisible());
            press_enter(box);
            QVERIFY(!offers->isVisible());
            QCOMPARE(tabs()->count(), 2);
            QCOMPARE(tabs()->tabText(1), QString("手机"));
            // Typed over the selection, a keyword the offers hold a longer
            // keyword for is submitted as typed.
            type(box, "手");
            QTRY_VERIFY(offers->isVisible());
            press_enter(box);
            QCOMPARE(tabs()->count(), 3);
            QCOMPARE(tabs()->tabText(2), QString("手"));
        });
        QTRY_COMPARE(window_->result_model(1)->rowCount(), 2);
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::SearchWindowTest>(argc, argv);
}

#include "search_window_test.moc"
