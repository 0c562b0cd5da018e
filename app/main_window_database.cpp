// The main window's side of the database: opening it at start, and going on
// without it when it cannot be opened. Then every keyword is collected and
// shown, its rows exported from the list, and the user is told each time
// that nothing of it is stored.

#include "app/main_window.h"
#include "app/qt_text.h"
#include "storage/store_factory.h"
#include "storage/unavailable_store.h"

namespace qinglan {

void MainWindow::prepare_database() {
    if (store_) {
        return;
    }
    std::string error;
    const std::string place =
        settings_.database_url.empty() ? settings_.data_dir : settings_.database_url;
    if (std::unique_ptr<RecordStore> store = open_record_store(place, &error)) {
        store_ = std::move(store);
        database_open_ = true;
    } else {
        // Stands as a database that fails with this reason wherever it is used.
        store_ = std::make_unique<UnavailableStore>(error);
        database_error_ = error;
    }
    engine_ =
        std::make_unique<CollectionEngine>(*store_, settings_.hosts, observer_, settings_.parallel);
    if (!database_open_) {
        set_status(0, QStringLiteral("状态：数据库无法打开"));
        dialogs_.message(
            this,
            QStringLiteral("无法打开数据库 ") + from_utf8(store_location(place)) +
                QStringLiteral("。\r\n仍可以采集、查看和导出，但采集到的数据不会保存。"),
            Dialogs::Icon::kWarning, QString(), from_utf8(error));
    }
}

void MainWindow::warn_not_stored(int task, const QString& keyword) {
    // Its rows are refused one by one; this says it once, before them.
    failure_shown_[task] = true;
    set_status(0, QStringLiteral("状态：数据库无法打开，数据不会保存"));
    dialogs_.message(nullptr,
                     QStringLiteral("数据库无法打开，关键字「") + keyword +
                         QStringLiteral("」采集到的数据只显示在结果页中，不会保存。"
                                        "请在关闭程序前导出。"),
                     Dialogs::Icon::kWarning, QString(), from_utf8(database_error_));
}

}  // namespace qinglan
