// What the toolbar's commands do.

#include <QToolBar>

#include "app/help_window.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/search_window.h"
#include "app/stored_keywords.h"
#include "app/window_fit.h"
#include "storage/store_factory.h"
#include "update/update_check.h"

namespace qinglan {

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
            open_help();
            return;
        case Command::kAbout:
            dialogs_.message(nullptr,
                             caption() + QStringLiteral("\r\n版本：") +
                                 from_utf8(std::string(kBuiltInVersion)) +
                                 QStringLiteral("\r\n使用说明见“帮助”（F1）。"),
                             Dialogs::Icon::kInformation);
            return;
        case Command::kSettings:
            open_settings();
            return;
        case Command::kQuit:
            if (may_close()) {
                end_program(0);
            }
            return;
    }
}

void MainWindow::open_help() {
    if (help_ == nullptr) {
        help_ = new HelpWindow(this);
    }
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void MainWindow::open_search_window() {
    // Ready, and nothing else, only while no task runs: a running task's
    // texts stay.
    if (!session_.running()) {
        set_status(0, QStringLiteral("状态：程序准备好，可以搜索"));
        set_status(1, QString());
    }
    if (!session_.opened()) {
        return;
    }
    std::string error;
    if (!session_.engine().read_table_names(&error) && session_.database_open()) {
        // A server out of reach may be back at the next try.
        if (!settings_.database_url.empty()) {
            dialogs_.message(nullptr,
                             QStringLiteral("无法连接数据库 ") +
                                 from_utf8(store_location(settings_.database_url)) +
                                 QStringLiteral("，请稍后再试。"),
                             Dialogs::Icon::kWarning, QString(), from_utf8(error));
            return;
        }
        // Keywords are still collected; stored ones are not known this time.
        dialogs_.message(nullptr, QStringLiteral("无法读取已保存的关键字。"),
                         Dialogs::Icon::kWarning, QString(), from_utf8(error));
    }
    SearchWindow window(this,
                        read_stored_keywords(session_.store(), session_.engine().table_names()),
                        dialogs_, [this](const QString& keyword) { submit_keyword(keyword); });
    show_team_queue(window);
    fit_to_screen(&window, window.size());
    window.exec();
}

}  // namespace qinglan
