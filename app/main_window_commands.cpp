// The toolbar's commands, chosen by the clicked button's caption.

#include <QAction>
#include <QStringList>
#include <QToolBar>

#include "app/export_window.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/result_list_model.h"
#include "app/search_window.h"
#include "export/cell_text.h"
#include "export/table_export.h"
#include "storage/store_factory.h"

namespace qinglan {
namespace {

constexpr const char* kProductAddress = "https://qinglan.example.com";

}  // namespace

void MainWindow::on_toolbar_click(int index) {
    const QList<QAction*> actions = toolbar_->actions();
    const QString text = index >= 0 && index < actions.size() ? actions[index]->text() : QString();
    if (text == QStringLiteral("退出")) {
        end_program(0);
    } else if (text == QStringLiteral("关于")) {
        show_about();
    } else if (text == QStringLiteral("帮助")) {
        show_help();
    } else if (text == QStringLiteral("客服信息")) {
        open_search_window();
    } else if (text == QStringLiteral("导出")) {
        export_to_excel();
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
    if (!engine_->read_table_names(&error)) {
        // Nothing can be collected or shown without the database file; a
        // server out of reach may be back at the next try.
        if (!settings_.database_url.empty()) {
            dialogs_.message(nullptr,
                             QStringLiteral("无法连接数据库 ") +
                                 from_utf8(store_location(settings_.database_url)) +
                                 QStringLiteral("，请稍后再试。"),
                             Dialogs::Icon::kWarning, QString(), from_utf8(error));
            return;
        }
        const std::string path = store_location(settings_.data_dir);
        dialogs_.message(nullptr,
                         QStringLiteral("无法打开数据库文件 ") + from_utf8(path) +
                             QStringLiteral("，程序将退出。"),
                         Dialogs::Icon::kError, QString(), from_utf8(error));
        end_program(0);
        return;
    }
    SearchWindow window(this, engine_->table_names(),
                        [this](const QString& keyword) { submit_keyword(keyword); });
    window.exec();
}

}  // namespace qinglan
