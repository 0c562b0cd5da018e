// The search window's side of the team's work queue: the queued keywords'
// states in the stored-keyword list, and adding keywords to the queue.

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/qt_text.h"
#include "app/search_window.h"

namespace qinglan {

void SearchWindow::show_team_queue(std::vector<QueueEntry> entries, QueueAdd add) {
    queue_ = std::move(entries);
    queue_add_ = std::move(add);
    const int top = stored_list_->geometry().bottom() + 9;
    QPushButton* typed = add_button(QStringLiteral("加入团队队列"), 16, top, 120);
    typed->setObjectName(QStringLiteral("加入团队队列"));
    connect(typed, &QPushButton::clicked, this, &SearchWindow::queue_typed_keyword);
    QPushButton* file = add_button(QStringLiteral("导入到团队队列…"), 144, top, 128);
    file->setObjectName(QStringLiteral("导入到团队队列"));
    connect(file, &QPushButton::clicked, this, &SearchWindow::queue_keyword_file);
    setFixedSize(width(), top + 24 + 12);
    fill_stored_list();
}

void SearchWindow::show_queue_state(QTreeWidgetItem* item, const QueueEntry& entry) {
    QString state = from_utf8(entry.state);
    QString tip;
    if (entry.state == "waiting") {
        state = QStringLiteral("排队中");
        tip = from_utf8(entry.reason);  // why its last try did not complete
    } else if (entry.state == "running") {
        // The windows never work the queue: whoever holds it is another collector.
        state = QStringLiteral("采集中 (其他采集器)");
        tip = QStringLiteral("采集器 ") + from_utf8(entry.worker) +
              QStringLiteral(" 正在采集；提交即显示已保存的行");
    } else if (entry.state == "done") {
        state = QStringLiteral("已完成");
    } else if (entry.state == "failed") {
        state = QStringLiteral("失败");
        tip = from_utf8(entry.reason);
    }
    item->setText(2, state);
    item->setToolTip(2, tip);
}

void SearchWindow::queue_typed_keyword() {
    const QString keyword = keyword_box_->text();
    if (!keyword.isEmpty()) {
        queue_keywords({keyword.toStdString()});
    }
    keyword_box_->selectAll();
    keyword_box_->setFocus();
}

void SearchWindow::queue_keyword_file() {
    std::vector<std::string> keywords;
    if (read_keyword_file(QStringLiteral("导入到团队队列"), &keywords)) {
        queue_keywords(keywords);
    }
    keyword_box_->setFocus();
}

void SearchWindow::queue_keywords(const std::vector<std::string>& keywords) {
    std::vector<QueueEntry> entries;
    if (queue_add_ && queue_add_(keywords, &entries)) {
        queue_ = std::move(entries);
        fill_stored_list();
    }
}

}  // namespace qinglan
