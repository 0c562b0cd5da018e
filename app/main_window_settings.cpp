// The main window's settings command: the dialog, and what it changes for
// the tasks started after it.

#include "app/main_window.h"
#include "app/settings_dialog.h"
#include "app/settings_file.h"
#include "services/fetch.h"

namespace qinglan {

void MainWindow::open_settings() {
    Options current = settings_;
    current.fetch = fetch_settings();  // the limits every transfer uses now
    current.database_url = next_database_url_.value_or(settings_.database_url);
    // The logins live only in the file: shown as it holds them now.
    read_file_only_settings(&current);
    SettingsDialog dialog(this, dialogs_, std::move(current));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    // The limits and the proxy hold for every transfer from now on; the
    // hosts and the members in flight for the tasks started from now on.
    // The database stays the one opened at start, with its tasks and tabs.
    const std::string opened_database = settings_.database_url;
    settings_ = dialog.options();
    settings_.database_url = opened_database;
    set_fetch_settings(settings_.fetch);
    if (session_.opened()) {
        session_.engine().set_market(settings_.hosts, settings_.parallel, settings_.site);
    }
    next_database_url_ = dialog.options().database_url;
    set_status(1, *next_database_url_ == settings_.database_url
                      ? QStringLiteral("设置已保存")
                      : QStringLiteral("设置已保存，数据库在重新启动后更换"));
}

}  // namespace qinglan
