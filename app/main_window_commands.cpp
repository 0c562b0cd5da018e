// What the toolbar's commands do.

#include <QAction>
#include <QStringList>
#include <QToolBar>

#include "app/export_window.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/result_list_model.h"
#include "app/search_window.h"
#include "app/stored_keywords.h"
#include "export/cell_text.h"
#include "export/table_export.h"
#include "storage/sqlite_store.h"

namespace qinglan {
namespace {

constexpr const char* kProductAddress = "https://qinglan.example.com";

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

void MainWindow::on_toolbar_click(int index) {
    if (const std::optional<Command> command = command_at(*toolbar_, index)) {
        run_command(*command);
    }
}

void MainWindow::run_command(Command command) {
    switch (command) {
        case Command::kSearch:
            open_search_window();
            return;
        case Command::kExport:
            export_to_excel();
            return;
        case Command::kHelp:
            show_help();
            return;
        case Command::kAbout:
            show_about();
            return;
        case Command::kSettings:
            open_settings();
            return;
        case Command::kQuit:
            end_program(0);
            return;
    }
}

void MainWindow::show_help() {
    dialogs_.message(nullptr, QStringLiteral("详细看软件起始页说明！"),
                     Dialogs::Icon::kInformation);
}

void MainWindow::show_about() {
    dialogs_.message(
        nullptr,
        caption() + QStringLiteral("\r\n软件官方网址：") + QString::fromUtf8(kProductAddress),
        Dialogs::Icon::kInformation);
}

void MainWindow::open_search_window() {
    set_status(0, QStringLiteral("状态：程序准备好，可以搜索"));
    set_status(1, QString());
    if (!engine_) {
        return;
    }
    std::string error;
    if (!engine_->read_table_names(&error) && database_open_) {
        // Keywords are still collected; stored ones are not known this time.
        dialogs_.message(nullptr, QStringLiteral("无法读取已保存的关键字。"),
                         Dialogs::Icon::kWarning, QString(), from_utf8(error));
    }
    SearchWindow window(this, read_stored_keywords(*store_, engine_->table_names()),
                        [this](const QString& keyword) { submit_keyword(keyword); });
    window.exec();
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
    ResultListModel* model = result_model(tab);
    const QString path = dialogs_.save_file_name(
        this, QStringLiteral("导出资料"), QStringLiteral("Excel 工作簿 (*.xlsx);;CSV 文件 (*.csv)"),
        QStringLiteral("xlsx"));
    if (path.isEmpty()) {
        return;
    }
    exporting_ = true;
    std::string error;
    ExportReport report;
    stop_export_ = false;
    const bool written =
        export_result_list(this, *model, tabs_->tabText(tab), path, &stop_export_, &report, &error);
    exporting_ = false;
    if (stop_export_) {
        return;  // the program is closing: nothing was written
    }
    if (written) {
        const QString losses = describe_losses(report.losses);
        dialogs_.message(nullptr, QStringLiteral("导出成功!") + losses,
                         Dialogs::Icon::kInformation);
    } else {
        dialogs_.message(nullptr, QStringLiteral("导出失败，没有写出文件。"),
                         Dialogs::Icon::kWarning, QString(), from_utf8(error));
    }
}

}  // namespace qinglan
