// The main window's side of the team's work queue on the server: what the
// search window shows of it and adds to it, and the keywords its workers
// hold, which a window shows rather than refuses.

#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/queue_profile.h"
#include "app/search_window.h"
#include "storage/postgres_queue.h"

namespace qinglan {

WorkQueue* MainWindow::team_queue() {
    if (settings_.database_url.empty() || !session_.database_open()) {
        return nullptr;
    }
    if (!queue_) {
        // The session's store made the queue's table on this database.
        queue_ = std::make_unique<WorkQueue>(settings_.database_url);
    }
    return queue_.get();
}

void MainWindow::show_team_queue(SearchWindow& window) {
    if (team_queue() == nullptr) {
        return;
    }
    // One query on the window's thread, as the stored keywords are read.
    std::vector<QueueEntry> entries;
    std::string error;
    if (!queue_->list(&entries, &error)) {
        dialogs_.message(nullptr, QStringLiteral("无法读取团队队列。"), Dialogs::Icon::kWarning,
                         QString(), from_utf8(error));
        return;
    }
    window.show_team_queue(std::move(entries), [this](const std::vector<std::string>& keywords,
                                                      std::vector<QueueEntry>* queued) {
        return add_to_team_queue(keywords, queued);
    });
}

bool MainWindow::add_to_team_queue(const std::vector<std::string>& keywords,
                                   std::vector<QueueEntry>* entries) {
    // Every keyword searchable by the site in use, or none is queued: a
    // worker could only fail it.
    for (const std::string& keyword : keywords) {
        std::string refusal;
        if (!session_.engine().searchable(keyword, &refusal)) {
            dialogs_.message(nullptr,
                             QStringLiteral("关键字「") + from_utf8(keyword) +
                                 QStringLiteral("」无法搜索，没有加入团队队列。"),
                             Dialogs::Icon::kWarning, QString(), from_utf8(refusal));
            return false;
        }
    }
    std::vector<bool> added;
    std::string error;
    if (!add_to_queue(settings_, keywords, *queue_, &added, &error) ||
        !queue_->list(entries, &error)) {
        dialogs_.message(nullptr, QStringLiteral("无法加入团队队列。"), Dialogs::Icon::kWarning,
                         QString(), from_utf8(error));
        return false;
    }
    return true;
}

bool MainWindow::held_by_queue_worker(const QString& keyword) {
    std::vector<QueueEntry> entries;
    std::string error;
    if (team_queue() == nullptr || !queue_->list(&entries, &error)) {
        return false;  // the refusal stands
    }
    const std::string name = keyword.toStdString();
    for (const QueueEntry& entry : entries) {
        if (entry.keyword == name) {
            return entry.state == "running";
        }
    }
    return false;
}

}  // namespace qinglan
