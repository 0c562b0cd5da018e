// The export command: the export dialog's choice of rows, the file name,
// and the rows of the selected tab and of stored keywords written to it on
// a thread of its own.

#include <QDir>
#include <QFileInfo>
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

// The file name the save dialog suggests: the keyword's, or 合并 for a
// merged export, with the workbook's extension.
QString suggested_name(const ExportChoice& choice, const QString& tab_keyword) {
    QString name = choice.merge ? QStringLiteral("合并")
                   : choice.tab ? tab_keyword
                                : from_utf8(choice.stored.front());
    // A keyword may hold what a file name cannot.
    for (const QChar c : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')}) {
        name.replace(c, QLatin1Char('_'));
    }
    return name + QLatin1Char('.') + from_utf8(std::string(export_formats().front().extension));
}

// Asks for the file to write, suggesting `suggested`. Empty when none was
// chosen; `refused` when the chosen format cannot hold the choice (the
// user is told).
QString ask_export_path(Dialogs& dialogs, QWidget* owner, const ExportChoice& choice,
                        const QString& suggested, bool* refused) {
    *refused = false;
    const QString path = dialogs.save_file_name_suggesting(
        owner, QStringLiteral("导出资料"), from_utf8(export_filters()),
        from_utf8(std::string(export_formats().front().extension)), suggested);
    if (path.isEmpty()) {
        return path;
    }
    const std::size_t keywords = (choice.tab ? 1 : 0) + choice.stored.size();
    if (!export_format(path.toStdString()).holds(keywords, choice.merge)) {
        dialogs.message(nullptr,
                        QStringLiteral("CSV 文件只能保存一个表：要把几个关键字导出到一个 CSV "
                                       "文件，请选择“合并为一个工作表”。"),
                        Dialogs::Icon::kInformation);
        *refused = true;
        return QString();
    }
    return path;
}

void show_export_end(Dialogs& dialogs, const ExportJob::Result& result, const QString& path,
                     std::size_t keywords, bool merge) {
    if (!result.written) {
        dialogs.message(nullptr, QStringLiteral("导出失败，没有写出文件。"),
                        Dialogs::Icon::kWarning, QString(), from_utf8(result.error));
        return;
    }
    // The first line as it always was; then where the rows went.
    QString text = QStringLiteral("导出成功!\r\n已导出 %1 行到 %2")
                       .arg(result.report.rows)
                       .arg(QDir::toNativeSeparators(path));
    if (merge) {
        text += QStringLiteral("\r\n%1 个关键字合并为 %2 行，重复的用户账号 %3 行未导出。")
                    .arg(keywords)
                    .arg(result.report.rows)
                    .arg(result.report.duplicates);
    }
    dialogs.message(nullptr, text + describe_losses(result.report.losses),
                    Dialogs::Icon::kInformation);
}

// What the export dialog offers for tab `tab` showing `page`.
ExportOffer export_offer(RecordStore& store, const QTabWidget& tabs, int tab,
                         const ResultPage& page) {
    const ResultListModel* model = page.model();
    ExportOffer offer;
    offer.tab_title = tabs.tabText(tab);
    offer.tab_rows = model->total_rows();
    offer.shown_rows = model->filtered() ? model->rowCount() : -1;
    // Stored keywords without rows would only give empty sheets.
    std::vector<std::string> names;
    if (store.read_table_names(&names, nullptr)) {
        for (const std::string& name : names) {
            long long rows = 0;
            if (name != page.keyword().toStdString() && store.count_rows(name, &rows, nullptr) &&
                rows > 0) {
                offer.stored.push_back({name, rows});
            }
        }
    }
    return offer;
}

}  // namespace

void MainWindow::export_to_excel() {
    if (export_) {
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
    ResultPage* page = result_page(tab);
    if (page->loading()) {
        // Until its stored rows are in, the list would offer and write too
        // few rows, or empty ones: the export waits for them.
        connect(page, &ResultPage::loaded, this, &MainWindow::export_to_excel,
                Qt::ConnectionType(Qt::SingleShotConnection | Qt::UniqueConnection));
        return;
    }
    const ExportOffer offer = export_offer(session_.store(), *tabs_, tab, *page);
    const QString keyword = page->keyword();
    ExportChoice choice;
    QString path;
    // A choice the file cannot hold goes back to the dialog as it was made.
    for (bool refused = true; refused;) {
        if (!dialogs_.choose_export(this, offer, &choice) ||
            (!choice.tab && choice.stored.empty())) {
            return;
        }
        const QString name = suggested_name(choice, keyword);
        path = ask_export_path(
            dialogs_, this, choice,
            export_folder_.isEmpty() ? name : QDir(export_folder_).filePath(name), &refused);
        choice.made = true;
    }
    // The tab may close while the dialogs were open.
    if (path.isEmpty() || tab >= tabs_->count()) {
        return;
    }
    export_folder_ = QFileInfo(path).absolutePath();
    start_export(*result_page(tab), choice, path);
}

void MainWindow::start_export(ResultPage& page, const ExportChoice& choice, const QString& path) {
    std::vector<std::unique_ptr<RowSource>> sources;
    std::vector<ExportKeyword> chosen;
    if (choice.tab) {
        sources.push_back(result_list_rows(*page.model(), choice.shown_only));
        chosen.push_back({page.keyword().toStdString(), sources.back().get()});
    }
    for (const std::string& keyword : choice.stored) {
        auto rows = std::make_unique<StoredRows>(session_.store(), keyword);
        std::string error;
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
    const std::size_t keywords = chosen.size();
    const bool merge = choice.merge;
    export_ =
        std::make_unique<ExportJob>(this, std::move(sources), std::move(chosen), merge, path,
                                    [this, path, keywords, merge](const ExportJob::Result& result) {
                                        export_.reset();
                                        show_export_end(dialogs_, result, path, keywords, merge);
                                    });
}

}  // namespace qinglan
