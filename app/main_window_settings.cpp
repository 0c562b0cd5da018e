// The main window's settings command: the dialog, and what it changes for
// the tasks started after it.

#include "app/main_window.h"
#include "app/settings_dialog.h"
#include "app/settings_logins.h"
#include "services/fetch.h"

namespace qinglan {

void MainWindow::open_settings() {
    Options current;
    current.data_dir = settings_.data_dir;
    current.hosts = settings_.hosts;
    current.update_host = settings_.update_host;
    current.fetch = fetch_settings();
    current.parallel = settings_.parallel;
    current.cookies = settings_.cookies;
    current.database_url = next_database_url_.value_or(settings_.database_url);
    // The logins live only in the file: shown as it holds them now.
    read_login_settings(&current);
    SettingsDialog dialog(this, dialogs_, std::move(current));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const Options& chosen = dialog.options();
    // The limits and the proxy hold for every transfer from now on; the
    // hosts and the members in flight for the tasks started from now on.
    set_fetch_settings(chosen.fetch);
    settings_.hosts = chosen.hosts;
    settings_.update_host = chosen.update_host;
    settings_.parallel = chosen.parallel;
    settings_.cookies = chosen.cookies;
    if (engine_) {
        engine_->set_market(settings_.hosts, settings_.parallel);
    }
    // The database stays the one opened at start, with its tasks and tabs.
    next_database_url_ = chosen.database_url;
    set_status(1, chosen.database_url == settings_.database_url
                      ? QStringLiteral("设置已保存")
                      : QStringLiteral("设置已保存，数据库在重新启动后更换"));
}

}  // namespace qinglan
