#pragma once

// The search window: a modal dialog where keywords are typed and submitted,
// one after the other, while it stays open. Each opening is a new window
// that has the stored table names read anew. Enter released in the keyword
// box submits exactly as the button does, the completion offers shown or
// not (one Enter, one keyword); after a submission the box's text is
// selected, so the next keyword typed replaces it. Esc and "取消" close it.
//
// Below the keyword box it lists the stored keywords with their row counts
// and whether they are complete, so the user sees what is there already;
// a click puts one into the keyword box, and typing completes from them
// (an offer chosen with the arrow keys is what Enter then submits; a click
// on one puts it into the box).
//
// "导入关键字…" submits every keyword of a keyword file, one after the
// other as if each were typed; a file with a bad line submits nothing and
// says which line it is.
//
// With the team's server as the database, the list shows the work queue's
// keywords too, each with its state there, and "加入团队队列" and
// "导入到团队队列…" add the typed keyword or a keyword file's keywords to
// the queue, for the team's workers to collect.

#include <QDialog>

#include <functional>
#include <vector>

#include "app/dialogs.h"
#include "app/stored_keywords.h"
#include "storage/postgres_queue.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qinglan {

class SearchWindow final : public QDialog {
    Q_OBJECT

public:
    // `submit` receives the keyword box's whole content, exactly as typed;
    // `dialogs` chooses the keyword file to import and says why it is refused.
    SearchWindow(QWidget* parent, const std::vector<StoredKeyword>& stored, Dialogs& dialogs,
                 std::function<void(const QString&)> submit);

    static QString caption();

    // Queues the keywords (UTF-8) and gives the queue as it is then; false
    // when they were refused, which it has said already.
    using QueueAdd = std::function<bool(const std::vector<std::string>&, std::vector<QueueEntry>*)>;
    // Shows the team's work queue, read as the window opens, and offers to
    // add to it through `add`.
    void show_team_queue(std::vector<QueueEntry> entries, QueueAdd add);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void submit_keyword();
    void import_keywords();
    // The keywords of a file the user chooses; false, the refusal said, when
    // none is chosen or a line is bad.
    bool read_keyword_file(const QString& title, std::vector<std::string>* keywords);
    void build_stored_list();
    void fill_stored_list();
    QPushButton* add_button(const QString& text, int left, int top, int width);
    void queue_typed_keyword();
    void queue_keyword_file();
    void queue_keywords(const std::vector<std::string>& keywords);
    static void show_queue_state(QTreeWidgetItem* item, const QueueEntry& entry);
    void take_stored(QTreeWidgetItem* item);

    Dialogs& dialogs_;
    std::function<void(const QString&)> submit_;
    QLineEdit* keyword_box_;
    QPushButton* submit_button_;
    QPushButton* cancel_button_;
    QPushButton* import_button_;
    QComboBox* table_names_box_;
    QTreeWidget* stored_list_ = nullptr;
    QLabel* list_title_ = nullptr;
    std::vector<StoredKeyword> stored_;
    std::vector<QueueEntry> queue_;
    QueueAdd queue_add_;          // empty: no team queue to show
    bool enter_pressed_ = false;  // Enter went down in the keyword box
};

}  // namespace qinglan
