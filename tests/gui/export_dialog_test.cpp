// The export dialog's choices, and what the window writes for each: the
// selected tab's rows (all, or the ones its filter shows), other stored
// keywords, one sheet each or merged; the export beside the working window.

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <string>
#include <vector>

#include "window_fixture.h"
#include "workbook_reader.h"

namespace qinglan {

class ExportDialogTest : public QObject, protected CollectingWindowFixture {
    Q_OBJECT

private:
    static ContactRecord row(const std::string& company, const std::string& account) {
        ContactRecord record{};
        record[kCompanyName] = company;
        record[kAccount] = account;
        return record;
    }

    // Exports the selected tab with `choice` to `name` in the data folder.
    std::string export_as(const ExportChoice& choice, const std::string& name) {
        const auto path = folder_->path() / name;
        dialogs_->export_answer = choice;
        dialogs_->save_answer = QString::fromStdString(path.string());
        dialogs_->messages.clear();
        window_->export_to_excel();
        // The export runs on: the test goes on once it has ended.
        if (!QTest::qWaitFor([&] { return !window_->exporting(); }, 5000)) {
            return std::string();
        }
        return path.string();
    }

private slots:
    void cleanup() { cleanup_fixture(); }

    void theDialogOffersKeywordsRowsAndMerging() {
        ExportOffer offer;
        offer.tab_title = "甲 (2)";
        offer.tab_rows = 30;
        offer.shown_rows = 4;
        offer.stored = {{"乙", 12}, {"丙", 5}};
        ExportDialog dialog(nullptr, offer);
        auto* keywords = dialog.findChild<QListWidget*>("关键字列表");
        auto* all = dialog.findChild<QRadioButton*>("全部行");
        auto* shown = dialog.findChild<QRadioButton*>("显示的行");
        auto* merge = dialog.findChild<QCheckBox*>("合并");
        auto* go = dialog.findChild<QPushButton*>("导出");
        QCOMPARE(keywords->count(), 3);
        QCOMPARE(keywords->item(0)->text(), QString("当前结果页「甲 (2)」（30 行）"));
        QCOMPARE(keywords->item(1)->text(), QString("乙（已保存 12 行）"));
        QCOMPARE(keywords->item(0)->checkState(), Qt::Checked);
        QCOMPARE(keywords->item(1)->checkState(), Qt::Unchecked);
        // With a filter on, the rows shown are proposed.
        QVERIFY(!all->isHidden() && !shown->isHidden());
        QCOMPARE(shown->text(), QString("只导出筛选后显示的 4 行"));
        QVERIFY(shown->isChecked());
        QVERIFY(!merge->isEnabled());
        ExportChoice choice = dialog.choice();
        QVERIFY(choice.tab && choice.shown_only && choice.stored.empty() && !choice.merge);

        keywords->item(2)->setCheckState(Qt::Checked);
        QVERIFY(merge->isEnabled());
        merge->setChecked(true);
        all->setChecked(true);
        choice = dialog.choice();
        QVERIFY(choice.tab && !choice.shown_only && choice.merge);
        QCOMPARE(choice.stored, std::vector<std::string>{"丙"});

        // Only stored keywords: the tab's row choice does not apply.
        keywords->item(0)->setCheckState(Qt::Unchecked);
        QVERIFY(!shown->isEnabled());
        QVERIFY(!merge->isEnabled());
        QVERIFY(!dialog.choice().merge);
        keywords->item(2)->setCheckState(Qt::Unchecked);
        QVERIFY(!go->isEnabled());

        // Opened again with choices made before, it shows them.
        ExportChoice made;
        made.tab = true;
        made.stored = {"乙", "丙"};
        made.merge = true;
        made.made = true;
        ExportDialog again(nullptr, offer);
        again.preset(made);
        const ExportChoice shown_again = again.choice();
        QVERIFY(shown_again.tab && !shown_again.shown_only && shown_again.merge);
        QCOMPARE(shown_again.stored, std::vector<std::string>({"乙", "丙"}));

        // Without a filter there is nothing to choose about the rows.
        offer.shown_rows = -1;
        ExportDialog plain(nullptr, offer);
        QVERIFY(plain.findChild<QRadioButton*>("显示的行")->isHidden());
        QVERIFY(!plain.choice().shown_only);
    }

    void theWindowWritesWhatWasChosen() {
        init_fixture();
        store_collected("甲", {row("甲一", "a1"), row("共同", "both"), row("甲三", "a3")});
        store_collected("乙", {row("共同乙", "both"), row("乙二", "b2")});
        store_collected("空", {});
        MainWindow& window = started_window();
        window.submit_keyword("甲");
        QTRY_COMPARE(window.result_model(1)->rowCount(), 3);
        tabs()->setCurrentIndex(1);

        // Offered: the tab, and the other keywords that hold rows.
        const std::string one = export_as({}, "一.xlsx");
        QCOMPARE(dialogs_->export_offers.size(), std::size_t(1));
        const ExportOffer& offer = dialogs_->export_offers[0];
        QCOMPARE(offer.tab_title, QString("甲"));
        QCOMPARE(offer.tab_rows, 3);
        QCOMPARE(offer.shown_rows, -1);
        QCOMPARE(offer.stored.size(), std::size_t(1));
        QCOMPARE(offer.stored[0].keyword, std::string("乙"));
        QCOMPARE(offer.stored[0].rows, 2LL);
        QCOMPARE(
            dialogs_->messages.at(0).text,
            "导出成功!\r\n已导出 3 行到 " + QDir::toNativeSeparators(QString::fromStdString(one)));

        // Merged: one row per account, the first kept, the keyword in front.
        ExportChoice merged;
        merged.stored = {"乙"};
        merged.merge = true;
        const std::string both = export_as(merged, "合并.xlsx");
        QCOMPARE(dialogs_->messages.at(0).text,
                 "导出成功!\r\n已导出 4 行到 " +
                     QDir::toNativeSeparators(QString::fromStdString(both)) +
                     "\r\n2 个关键字合并为 4 行，重复的用户账号 1 行未导出。");
        WorkbookReader workbook;
        std::string error;
        QVERIFY2(workbook.read(both, &error), error.c_str());
        QCOMPARE(workbook.last_row(), 5);
        QCOMPARE(workbook.text("A1"), std::string("关键词"));
        QCOMPARE(workbook.text("A3") + workbook.text("B3"), std::string("甲共同"));
        QCOMPARE(workbook.text("A5") + workbook.text("D5"), std::string("乙b2"));

        // Not merged: a sheet each, the tab's first.
        ExportChoice apart;
        apart.stored = {"乙"};
        const std::string sheets = export_as(apart, "分开.xlsx");
        WorkbookReader first_sheet;
        QVERIFY2(first_sheet.read(sheets, &error), error.c_str());
        QCOMPARE(first_sheet.last_row(), 4);
        QCOMPARE(first_sheet.text("B1"), std::string("联系人"));
        QCOMPARE(first_sheet.text("C4"), std::string("a3"));

        // A CSV file holds one table: several keywords only merged. The
        // dialog then comes back, and is cancelled.
        dialogs_->export_dialogs_chosen = dialogs_->export_offers.size() + 1;
        const std::string refused = export_as(apart, "分开.csv");
        dialogs_->export_dialogs_chosen = SIZE_MAX;
        QCOMPARE(dialogs_->messages.size(), std::size_t(1));
        QVERIFY(dialogs_->messages[0].text.startsWith("CSV 文件只能保存一个表"));
        QVERIFY(!std::filesystem::exists(refused));

        // With a filter on, the rows shown, in the order shown.
        window.result_page(1)->findChild<QLineEdit*>("筛选框")->setText("甲");
        QCOMPARE(window.result_model(1)->rowCount(), 2);
        window.result_model(1)->sort(kAccount, Qt::DescendingOrder);
        ExportChoice shown;
        shown.shown_only = true;
        const std::string csv = export_as(shown, "筛选.csv");
        QCOMPARE(dialogs_->export_offers.back().shown_rows, 2);
        QCOMPARE(dialogs_->messages.at(0).text.section("\r\n", 0, 0), QString("导出成功!"));
        const std::string text = file_contents(csv);
        QVERIFY2(text.find("甲三") < text.find("甲一"), text.c_str());
        QVERIFY(text.find("共同") == std::string::npos);
        // All rows, whatever the filter shows.
        const std::string all = export_as({}, "全部.csv");
        QVERIFY(file_contents(all).find("共同") != std::string::npos);

        // Cancelled: nothing is asked further, nothing written.
        dialogs_->export_chosen = false;
        const std::size_t asked = dialogs_->save_requests.size();
        const std::string cancelled = export_as({}, "取消.xlsx");
        QCOMPARE(dialogs_->save_requests.size(), asked);
        QVERIFY(!std::filesystem::exists(cancelled));
        QVERIFY(dialogs_->messages.empty());
        QVERIFY(std::filesystem::exists(one));
    }

    // The save dialog suggests the keyword's name (合并 when merged) in the
    // folder of the last export; a choice the file type cannot hold goes
    // back to the dialog as it was made; Ctrl+E works from the filter box.
    void exportsStartWhereTheLastOneWent() {
        init_fixture();
        store_collected("甲", {row("甲一", "a1"), row("甲二", "a2")});
        store_collected("乙", {row("乙一", "b1")});
        MainWindow& window = started_window();
        window.submit_keyword("甲");
        QTRY_COMPARE(window.result_model(1)->rowCount(), 2);
        tabs()->setCurrentIndex(1);
        std::filesystem::create_directories(folder_->path() / "出");

        const std::string first = export_as({}, "出/第一.xlsx");
        QCOMPARE(dialogs_->save_suggestions.back(), QString("甲.xlsx"));
        QCOMPARE(dialogs_->messages.at(0).text.split("\r\n").at(1),
                 "已导出 2 行到 " + QDir::toNativeSeparators(QString::fromStdString(first)));
        ExportChoice merged;
        merged.stored = {"乙"};
        merged.merge = true;
        export_as(merged, "出/第二.xlsx");
        QCOMPARE(dialogs_->save_suggestions.back(),
                 QString::fromStdString((folder_->path() / "出" / "合并.xlsx").string()));

        // Two keywords into one CSV file: refused, and the dialog comes back
        // with both keywords still chosen (then it is cancelled).
        ExportChoice two;
        two.stored = {"乙"};
        const std::size_t dialogs = dialogs_->export_offers.size();
        dialogs_->export_dialogs_chosen = dialogs + 1;
        export_as(two, "两个.csv");
        QCOMPARE(dialogs_->export_offers.size(), dialogs + 2);
        QVERIFY(dialogs_->messages.at(0).text.startsWith("CSV 文件只能保存一个表"));
        const ExportChoice& kept = dialogs_->export_presets.back();
        QVERIFY(kept.made && kept.tab && !kept.merge);
        QCOMPARE(kept.stored, std::vector<std::string>{"乙"});
        QVERIFY(!dialogs_->export_presets[dialogs].made);

        // Ctrl+E with the focus in the filter box.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* filter = window.result_page(1)->findChild<QLineEdit*>("筛选框");
        filter->setFocus();
        dialogs_->export_chosen = false;
        QTest::keyClick(filter, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(dialogs_->export_offers.size(), dialogs + 3);
    }

    // A stored keyword just opened is still being read into its list: the
    // export offers and writes every stored row, not the ones in so far.
    void anExportWaitsForTheStoredRowsOfItsTab() {
        init_fixture();
        constexpr int kRows = 20000;
        std::vector<ContactRecord> rows;
        for (int i = 0; i < kRows; ++i) {
            rows.push_back(row("公司" + std::to_string(i), "a" + std::to_string(i)));
        }
        store_collected("甲", rows);
        MainWindow& window = started_window();
        window.submit_keyword("甲");
        tabs()->setCurrentIndex(1);
        QVERIFY(window.result_page(1)->loading());
        const auto path = folder_->path() / "载入.csv";
        dialogs_->export_answer = ExportChoice{};
        dialogs_->save_answer = QString::fromStdString(path.string());
        dialogs_->messages.clear();
        window.export_to_excel();
        window.export_to_excel();  // asked twice while reading: one export
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs_->messages.empty() && !window.exporting(), 20000);
        QCOMPARE(dialogs_->export_offers.size(), std::size_t(1));
        QCOMPARE(dialogs_->export_offers[0].tab_rows, kRows);
        QCOMPARE(dialogs_->messages.at(0).text.section("\r\n", 0, 0), QString("导出成功!"));
        const std::string text = file_contents(path.string());
        QCOMPARE(std::count(text.begin(), text.end(), '\n'), std::ptrdiff_t(kRows + 1));
        QVERIFY(text.find("公司19999") != std::string::npos);
        QVERIFY(text.find("\n,") == std::string::npos);  // no row without its company
    }

    // The export runs beside the window: the command returns at once, the
    // progress window follows the rows to the last one, and a second export
    // is refused until the first has ended.
    void anExportLeavesTheWindowFree() {
        init_fixture();
        store_collected("大", {row("公司", "d0")});
        MainWindow& window = started_window();
        window.submit_keyword("大");
        QTRY_COMPARE(window.result_model(1)->rowCount(), 1);
        add_many_rows(window, 1, 100000);
        tabs()->setCurrentIndex(1);
        const auto path = folder_->path() / "大.xlsx";
        dialogs_->save_answer = QString::fromStdString(path.string());
        window.on_toolbar_click(1);
        QVERIFY(window.exporting());
        auto* bar = window.findChild<QProgressBar*>("进度条1");
        QVERIFY(bar != nullptr);
        std::vector<int> shown;
        QObject::connect(bar, &QProgressBar::valueChanged,
                         [&](int value) { shown.push_back(value); });

        window.on_toolbar_click(1);
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.startsWith("正在导出"));
        QCOMPARE(dialogs_->save_requests.size(), size_t(1));

        QTRY_VERIFY_WITH_TIMEOUT(!window.exporting(), 30000);
        QCOMPARE(dialogs_->messages.size(), size_t(2));
        QCOMPARE(dialogs_->messages[1].text.section("\r\n", 0, 0), QString("导出成功!"));
        QVERIFY(!shown.empty());
        QCOMPARE(shown.back(), 100001);
        QVERIFY(!window.findChild<QDialog*>("export_window") ||
                !window.findChild<QDialog*>("export_window")->isVisible());
        WorkbookReader workbook;
        std::string error;
        QVERIFY2(workbook.read(path.string(), &error), error.c_str());
        QCOMPARE(workbook.last_row(), 100002);
        QCOMPARE(workbook.text("A100002"), std::string("公司99999"));
    }
};

}  // namespace qinglan

QINGLAN_WINDOW_TEST_MAIN(qinglan::ExportDialogTest)

#include "export_dialog_test.moc"
