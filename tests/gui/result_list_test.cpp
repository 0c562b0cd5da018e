// The result tabs and lists: tab titles and tooltips, closing, deleting and
// collecting a keyword again from a tab's menu, and sorting, filtering,
// copying and fitting the columns of a list.

#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "app/result_list_view.h"
#include "window_fixture.h"

namespace qinglan {

class ResultListTest : public QObject, protected CollectingWindowFixture {
    Q_OBJECT

private:
    static ContactRecord row(const std::string& company, const std::string& account,
                             const std::string& phone, const std::string& address = {}) {
        ContactRecord record{};
        record[kCompanyName] = company;
        record[kAccount] = account;
        record[kTelephone] = phone;
        record[kAddress] = address;
        return record;
    }

    void click_heading(ResultListView* view, int column) {
        QHeaderView* header = view->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    ResultListView* view(int tab) {
        return static_cast<ResultListView*>(window_->result_list(tab));
    }

private slots:
    void cleanup() { cleanup_fixture(); }

    void tabsOfOneKeywordAreNumberedAndClose() {
        init_fixture();
        store_collected("崩溃", {row("甲", "a", ""), row("乙", "b", ""), row("丙", "c", "")});
        MainWindow& window = started_window();
        for (int i = 0; i < 3; ++i) {
            window.submit_keyword("崩溃");
        }
        QCOMPARE(tabs()->count(), 4);
        QCOMPARE(tabs()->tabText(1), QString("崩溃"));
        QCOMPARE(tabs()->tabText(2), QString("崩溃 (2)"));
        QCOMPARE(tabs()->tabText(3), QString("崩溃 (3)"));
        for (int tab = 1; tab <= 3; ++tab) {
            QCOMPARE(tabs()->tabToolTip(tab), QString("已保存 3 行"));
            QTRY_COMPARE(window.result_model(tab)->rowCount(), 3);
        }

        // The start page stays; a result tab closes with its button.
        QTabBar* bar = tabs()->tabBar();
        QCOMPARE(bar->tabButton(0, QTabBar::RightSide), nullptr);
        QWidget* close = bar->tabButton(2, QTabBar::RightSide);
        QVERIFY(close != nullptr);
        QTest::mouseClick(close, Qt::LeftButton);
        QCOMPARE(tabs()->count(), 3);
        QCOMPARE(tabs()->tabText(2), QString("崩溃 (3)"));
        QCOMPARE(window.result_model(2)->rowCount(), 3);
        window.submit_keyword("崩溃");
        QCOMPARE(tabs()->tabText(3), QString("崩溃 (4)"));

        // A keyword being collected counts its rows as they are stored.
        serve_members(*market_, "新", "n", 2);
        window.submit_keyword("新");
        QCOMPARE(tabs()->tabText(4), QString("新"));
        QTRY_VERIFY(ended(1));
        QCOMPARE(tabs()->tabToolTip(4), QString("已保存 2 行"));
        QVERIFY(dialogs_->messages.empty());
    }

    void deleteAndCollectAgainFromTheTabMenu() {
        init_fixture();
        serve_members(*market_, "丙", "p", 2);
        MainWindow& window = started_window();
        window.submit_keyword("丙");
        QTRY_VERIFY(ended(1));
        QCOMPARE(stored_count("丙"), 2);

        // Nothing is deleted without a yes.
        dialogs_->confirm_answer = false;
        QVERIFY(pick_for_tab(1, "tab_forget"));
        QCOMPARE(dialogs_->questions.size(), std::size_t(1));
        QVERIFY(dialogs_->questions[0].contains("丙"));
        QVERIFY(dialogs_->questions[0].contains("2 行"));
        QCOMPARE(stored_count("丙"), 2);
        QCOMPARE(tabs()->count(), 2);

        dialogs_->confirm_answer = true;
        QVERIFY(pick_for_tab(1, "tab_forget"));
        QCOMPARE(stored_count("丙"), -1);
        QCOMPARE(tabs()->count(), 1);
        std::vector<std::string> names;
        QVERIFY(open_store()->read_table_names(&names, nullptr));
        QVERIFY(std::find(names.begin(), names.end(), "丙") == names.end());

        // Submitted again, it is collected anew, not re-opened.
        market_->clear_requests();
        window.submit_keyword("丙");
        QTRY_VERIFY(ended(2));
        QCOMPARE(stored_count("丙"), 2);
        QVERIFY(!market_->requests().empty());
        QCOMPARE(tabs()->tabText(1), QString("丙 (2)"));

        // 重新采集 fills the same tab from a new member list.
        serve_members(*market_, "丙", "q", 3, 100);
        QVERIFY(pick_for_tab(1, "tab_collect_again"));
        QCOMPARE(tabs()->count(), 2);
        QVERIFY(dialogs_->questions.back().startsWith("重新采集关键字「丙」"));
        // Deleting it while it is collected is refused.
        QVERIFY(pick_for_tab(1, "tab_forget"));
        QCOMPARE(dialogs_->messages.size(), std::size_t(1));
        QCOMPARE(dialogs_->messages[0].text,
                 QString("关键字「丙」正在采集，不能删除。请先停止它的任务。"));
        QTRY_VERIFY(ended(3));
        QCOMPARE(state_of(3), QString("完成"));
        QCOMPARE(stored_count("丙"), 3);
        QTRY_COMPARE(shown_accounts(1), QStringList({"q0", "q1", "q2"}));
        QCOMPARE(tabs()->tabToolTip(1), QString("已保存 3 行"));
    }

    // A verification page in place of the results lists no account: the
    // stored rows stay, the tab shows them again, and the task says why.
    void collectAgainAgainstAPageWithoutAccountsKeepsTheRows() {
        init_fixture();
        serve_members(*market_, "验", "v", 2);
        MainWindow& window = started_window();
        window.submit_keyword("验");
        QTRY_VERIFY(ended(1));
        QTRY_COMPARE(shown_accounts(1), QStringList({"v0", "v1"}));

        market_->set_resource("search/" + encode_keyword(utf8_to_gbk("验")),
                              gbk("<html><head><title>安全验证</title></head></html>"));
        dialogs_->confirm_answer = true;
        QVERIFY(pick_for_tab(1, "tab_collect_again"));
        QTRY_VERIFY(ended(2));
        QCOMPARE(state_of(2), QString("失败"));
        QCOMPARE(task_list()->row(2)->toolTip(TaskList::kState),
                 QString("搜索页中没有会员账号（标题“安全验证”，0 KB），已保存的数据保持不变"));
        QCOMPARE(stored_count("验"), 2);
        QTRY_COMPARE(shown_accounts(1), QStringList({"v0", "v1"}));
        QCOMPARE(tabs()->tabToolTip(1), QString("已保存 2 行"));
    }

    void sortFilterAndCopy() {
        init_fixture();
        store_collected(
            "表", {row("乙公司", "b", "0571-2"), row("甲公司", "a", ""),
                   row("丙公司", "C", "0571-1", "上海\n浦东"), row("丁公司", "d", "0571-3\t分机")});
        MainWindow& window = started_window();
        window.submit_keyword("表");
        QTRY_COMPARE(window.result_model(1)->rowCount(), 4);
        tabs()->setCurrentIndex(1);
        ResultListView* list = view(1);

        // Latin letters in alphabetical order, whatever their case.
        click_heading(list, kAccount);
        QCOMPARE(shown_accounts(1), QStringList({"a", "b", "C", "d"}));
        click_heading(list, kAccount);
        QCOMPARE(shown_accounts(1), QStringList({"d", "C", "b", "a"}));
        // Empty cells go last both ways.
        click_heading(list, kTelephone);
        QCOMPARE(shown_accounts(1), QStringList({"C", "b", "d", "a"}));
        click_heading(list, kTelephone);
        QCOMPARE(shown_accounts(1), QStringList({"d", "b", "C", "a"}));

        // The filter matches any column, Latin letters in either case.
        auto* filter = window.result_page(1)->findChild<QLineEdit*>("筛选框");
        filter->setText("0571");
        QCOMPARE(shown_accounts(1), QStringList({"d", "b", "C"}));
        filter->setText("c");
        QCOMPARE(shown_accounts(1), QStringList({"C"}));
        filter->setText("甲");
        QCOMPARE(shown_accounts(1), QStringList({"a"}));
        filter->setText("无此");
        QCOMPARE(shown_accounts(1), QStringList());
        filter->clear();
        QCOMPARE(shown_accounts(1), QStringList({"d", "b", "C", "a"}));

        // Rows arriving meanwhile take their place in the sorted list.
        ResultListModel* model = window.result_model(1);
        model->put_records(4, {row("戊公司", "e", "0571-0")});
        QTRY_COMPARE(shown_accounts(1), QStringList({"d", "b", "C", "e", "a"}));
        QCOMPARE(model->total_rows(), 5);

        // Copied cells paste into a spreadsheet cell for cell.
        list->setFocus();
        list->selectionModel()->select(
            QItemSelection(model->index(1, kCompanyName), model->index(2, kAccount)),
            QItemSelectionModel::Select);
        list->selectionModel()->select(model->index(0, kTelephone), QItemSelectionModel::Select);
        list->selectionModel()->select(model->index(2, kAddress), QItemSelectionModel::Select);
        QApplication::clipboard()->clear();
        QTest::keySequence(list, QKeySequence::Copy);
        const QStringList lines = QApplication::clipboard()->text().split("\r\n");
        QCOMPARE(lines.size(), 4);
        // Columns 0 to 9 (公司名称 to 地址), the telephone in column 6.
        const auto gaps = [](int n) { return QString("\t").repeated(n); };
        QCOMPARE(lines[0], gaps(6) + "\"0571-3\t分机\"" + gaps(3));
        QCOMPARE(lines[1], "乙公司" + gaps(2) + "b" + gaps(7));
        QCOMPARE(lines[2], "丙公司" + gaps(2) + "C" + gaps(7) + "\"上海\n浦东\"");
        QCOMPARE(lines[3], QString());
    }

    // Chinese sorts by pinyin, a changed cell sorts by its new text; whole
    // rows copy as twelve cells; the filter box counts the rows shown; a cut
    // cell shows whole in its tooltip.
    void listsWorkAsASpreadsheetDoes() {
        init_fixture();
        store_collected("市", {row("苏州公司", "su", "1"), row("青岛公司", "qing", "2"),
                               row("北京公司", "bei", ""), row("阿城公司", "a", "3")});
        MainWindow& window = started_window();
        window.submit_keyword("市");
        QTRY_COMPARE(window.result_model(1)->rowCount(), 4);
        tabs()->setCurrentIndex(1);
        ResultListView* list = view(1);
        ResultListModel* model = window.result_model(1);
        auto* count = window.result_page(1)->findChild<QLabel*>("筛选行数");
        QVERIFY(count != nullptr);
        QTRY_COMPARE(count->text(), QString("显示 4 / 4 行"));

        click_heading(list, kCompanyName);
        QCOMPARE(shown_accounts(1), QStringList({"a", "bei", "qing", "su"}));
        click_heading(list, kCompanyName);
        QCOMPARE(shown_accounts(1), QStringList({"su", "qing", "bei", "a"}));
        // A row whose company changes takes its new place.
        model->put_records(1, {row("安庆公司", "an", "2")});
        QTRY_COMPARE(shown_accounts(1), QStringList({"su", "bei", "an", "a"}));

        list->setFocus();
        list->selectAll();
        QApplication::clipboard()->clear();
        QTest::keySequence(list, QKeySequence::Copy);
        const QStringList lines = QApplication::clipboard()->text().split("\r\n");
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], "苏州公司\t\tsu\t\t\t\t1" + QString("\t").repeated(5));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(lines[i].split("\t").size(), kRecordFields);
        }

        auto* filter = window.result_page(1)->findChild<QLineEdit*>("筛选框");
        filter->setText("公司");
        QCOMPARE(count->text(), QString("显示 4 / 4 行"));
        filter->setText("青");
        QCOMPARE(count->text(), QString("显示 0 / 4 行"));
        filter->setText("安");
        QCOMPARE(count->text(), QString("显示 1 / 4 行"));
        model->put_records(4, {row("安吉公司", "anji", "4")});
        QCOMPARE(count->text(), QString("显示 1 / 5 行"));
        QTRY_COMPARE(count->text(), QString("显示 2 / 5 行"));
        filter->clear();
        QCOMPARE(count->text(), QString("显示 5 / 5 行"));

        // Only a cell its column cuts has a tooltip, with the whole text.
        const QModelIndex cell = model->index(0, kCompanyName);
        list->setColumnWidth(kCompanyName, 300);
        QCOMPARE(list->cell_tooltip(cell), QString());
        list->setColumnWidth(kCompanyName, 20);
        QCOMPARE(list->cell_tooltip(cell), cell.data().toString());
    }

    void columnsFitTheirContent() {
        init_fixture();
        const std::string phone = "0571-88886666 / 0571-88886667 转 8001";
        store_collected("宽", {row("杭州青岚贸易有限公司", "alpha", phone)});
        MainWindow& window = started_window();
        window.submit_keyword("宽");
        QTRY_COMPARE(window.result_model(1)->rowCount(), 1);
        ResultListView* list = view(1);
        const QFontMetrics metrics = list->fontMetrics();
        QTRY_VERIFY(list->columnWidth(kTelephone) >
                    metrics.horizontalAdvance(QString::fromStdString(phone)));
        QVERIFY(list->columnWidth(kCompanyName) >
                metrics.horizontalAdvance(QString("杭州青岚贸易有限公司")));
        // An empty column is as wide as its heading needs, no wider.
        const int heading = list->horizontalHeader()->fontMetrics().horizontalAdvance("传真");
        QVERIFY(list->columnWidth(kFax) > heading);
        QVERIFY(list->columnWidth(kFax) < heading + 40);
        // A column the user widened stays as wide.
        list->setColumnWidth(kPostalCode, 200);
        window.result_model(1)->put_records(1, {row("另一家", "beta", "1")});
        QTRY_COMPARE(window.result_model(1)->rowCount(), 2);
        QApplication::processEvents();
        QCOMPARE(list->columnWidth(kPostalCode), 200);
    }
};

}  // namespace qinglan

QINGLAN_WINDOW_TEST_MAIN(qinglan::ResultListTest)

#include "result_list_test.moc"
