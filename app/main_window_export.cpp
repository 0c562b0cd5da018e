// The export command: the export dialog's choice of rows, the file name,
// and the rows of the selected tab and of stored keywords written to it.

#include <QStringList>
#include <QTabWidget>

#include "app/export_dialog.h"
#include "app/export_window.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/result_list_model.h"
#include "app/result_page.h"
#include "export/cell_text.h"
#include "export/stored_rows.h"
#include "export/table_export.h"

namespace qinglan {
namespace {

// What making the values fit a workbook cost, after the success message.
QString describe_losses(const CellLosses& losses) {
    QString text;
    if (losses.cut_cells > 0) {
        QStringList names;
        for (const std::string& name : losses.cut_cell_names) {
            names << from_utf8(name);
        }
        if (losses.cut_cells > losses.cut_cell_names.size()) {
            names << QStringLiteral("…");
        }
        text += QStringLiteral("\r\n%1 个单元格超过 %2 个字符，已截断：%3")
                    .arg(losses.cut_cells)
                    .arg(kMaxCellLength)
                    .arg(names.join(QStringLiteral("，")));
    }
    if (losses.replaced_cells > 0) {
        text += QStringLiteral("\r\n%1 个单元格含有工作簿无法保存的字符，已写为 U+FFFD。")
                    .arg(losses.replaced_cells);
    }
    return text;
}

}  // namespace

ExportOffer MainWindow::export_offer(int tab) {
    ResultPage* page = result_page(tab);
    const ResultListModel* model = page->model();
    ExportOffer offer;
    offer.tab_title = tabs_->tabText(tab);
    offer.tab_rows = model->total_rows();
    offer.shown_rows = model->filtered() ? model->rowCount() : -1;
    // Stored keywords without rows would only give empty sheets.
    std::vector<std::string> names;
    if (store_->read_table_names(&names, nullptr)) {
        for (const std::string& name : names) {
            long long rows = 0;
            if (name != page->keyword().toStdString() && store_->count_rows(name, &rows, nullptr) &&
                rows > 0) {
                offer.stored.push_back({name, rows});
            }
        }
    }
    return offer;
}

void MainWindow::export_to_excel() {
    if (exporting_) {
        dialogs_.message(nullptr, QStringLiteral("正在导出，请等这一次导出完成。"),
                         Dialogs::Icon::kInformation);
        return;
    }
    const int tab = tabs_->currentIndex();
    if (tab <= 0) {
        dialogs_.message(nullptr, QStringLiteral("请先选中一个关键字的结果页，再导出。"),
                         Dialogs::Icon::kInformation);
        return;
    }
    ExportChoice choice;
    if (!dialogs_.choose_export(this, export_offer(tab), &choice) ||
        (!choice.tab && choice.stored.empty())) {
        return;
    }
    const QString path =
        dialogs_.save_file_name(this, QStringLiteral("导出资料"), from_utf8(export_filters()),
                                from_utf8(std::string(export_formats().front().extension)));
    if (path.isEmpty()) {
        return;
    }
    const std::size_t keywords = (choice.tab ? 1 : 0) + choice.stored.size();
    if (!export_format(path.toStdString()).holds(keywords, choice.merge)) {
        dialogs_.message(nullptr,
                         QStringLiteral("CSV 文件只能保存一个表：要把几个关键字导出到一个 CSV "
                                        "文件，请选择“合并为一个工作表”。"),
                         Dialogs::Icon::kInformation);
        return;
    }
    // The tab may close while the dialogs were open.
    if (tab >= tabs_->count()) {
        return;
    }
    ResultPage* page = result_page(tab);
    std::vector<std::unique_ptr<RowSource>> sources;
    std::vector<ExportKeyword> chosen;
    if (choice.tab) {
        sources.push_back(result_list_rows(*page->model(), choice.shown_only));
        chosen.push_back({page->keyword().toStdString(), sources.back().get()});
    }
    std::string error;
    for (const std::string& keyword : choice.stored) {
        auto rows = std::make_unique<StoredRows>(*store_, keyword);
        if (!rows->open(&error)) {
            dialogs_.message(nullptr,
                             QStringLiteral("无法读取关键字「") + from_utf8(keyword) +
                                 QStringLiteral("」的数据，没有导出。"),
                             Dialogs::Icon::kWarning, QString(), from_utf8(error));
            return;
        }
        sources.push_back(std::move(rows));
        chosen.push_back({keyword, sources.back().get()});
    }

    exporting_ = true;
    ExportReport report;
    stop_export_ = false;
    const bool written =
        export_rows(this, chosen, choice.merge, path, &stop_export_, &report, &error);
    exporting_ = false;
    if (stop_export_) {
        return;  // the program is closing: nothing was written
    }
    if (!written) {
        dialogs_.message(nullptr, QStringLiteral("导出失败，没有写出文件。"),
                         Dialogs::Icon::kWarning, QString(), from_utf8(error));
        return;
    }
    QString merged;
    if (choice.merge) {
        merged = QStringLiteral("\r\n%1 个关键字合并为 %2 行，重复的用户账号 %3 行未导出。")
                     .arg(chosen.size())
                     .arg(report.rows)
                     .arg(report.duplicates);
    }
    dialogs_.message(nullptr, QStringLiteral("导出成功!") + merged + describe_losses(report.losses),
                     Dialogs::Icon::kInformation);
}

}  // namespace qinglan
