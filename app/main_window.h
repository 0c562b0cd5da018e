#pragma once

// The application's main window: the toolbar of commands, the task list, the
// tabs (the start page with the notice, then one result tab per submitted
// keyword) and the status line. It owns the database, the collection engine
// and every result list; the engine's workers reach it only through the
// queued reports of its observer.
//
// A task whose search page fails shows the reason in its task-list row; a
// task with members that could not be fetched counts them there and says on
// the status line that submitting the keyword again collects them. A keyword
// being collected elsewhere is refused with a message and gets nothing.
//
// Closing it, Esc or "退出" stop the running collections cleanly: transfers
// end promptly and the rows stored so far stay.

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/gui_observer.h"
#include "app/toolbar_commands.h"
#include "engine/collection_engine.h"
#include "engine/request.h"
#include "storage/record_store.h"

class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTableView;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace qinglan {

class ResultListModel;
class StoredRowsLoader;

struct GuiSettings {
    std::string data_dir;
    MarketHosts hosts;
    std::string update_host;  // empty: no notice, no update check
    std::string run_dir;      // where the update folder lives
    std::string program_name;
    int parallel = 8;     // members of a task in flight at once
    std::string cookies{};  // the cookies file read at start; empty: none
};

class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(GuiSettings settings, Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    const GuiSettings& settings() const { return settings_; }

    static QString caption();
    static QString ready_text();  // the status line's first text
    static QString built_in_notice();

    // Opens the database. One that cannot be opened is reported, and the
    // program goes on without it: rows are shown and exported, not stored.
    void prepare_database();
    bool database_open() const { return database_open_; }

    // The text of the start page.
    void show_notice(const QString& text);

    // How the program ends (the event loop's exit by default); tests replace it.
    void set_end_program(std::function<void(int)> end_program);
    // Stops the collections, then ends the program.
    void end_program(int status);

    // The toolbar's click on button `index` (0-based) runs that button's command.
    void on_toolbar_click(int index);
    void run_command(Command command);
    void open_search_window();
    void submit_keyword(const QString& keyword);
    void export_to_excel();

    QString status_text(int part) const;
    void set_status(int part, const QString& text);

    // The result list of tab `tab_index` (1-based among the tabs after the
    // start page); a lookup outside the lists is a fault that ends the program.
    QTableView* result_list(int tab_index);
    int result_list_count() const { return static_cast<int>(result_lists_.size()); }
    ResultListModel* result_model(int tab_index);

    // Stops every running collection and waits for the workers.
    void stop_collection();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The columns of the task list.
    enum TaskColumn { kTaskName, kTaskTotal, kTaskDone, kTaskFailed, kTaskColumns };

    void build_toolbar();
    void build_central_units();
    void build_status_bar();
    void apply_updates(CollectionUpdates&& updates);
    void show_storage_failures(const std::vector<std::pair<int, QString>>& failures);
    void show_task_end(int task, const TaskOutcome& outcome);
    QTreeWidgetItem* add_task_row(int task, const QString& keyword, int total);
    ResultListModel* add_result_list_and_tab(const QString& keyword);
    void load_stored_rows(const QString& keyword, ResultListModel* model, int row_limit);
    void switch_result_page(int index);
    void show_help();
    void show_about();
    void open_settings();
    void warn_not_stored(int task, const QString& keyword);

    GuiSettings settings_;  // as the settings dialog last left them
    Dialogs& dialogs_;
    std::function<void(int)> end_program_;

    QToolBar* toolbar_ = nullptr;
    QTreeWidget* task_list_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QPlainTextEdit* notice_box_ = nullptr;
    QLabel* status_parts_[2] = {nullptr, nullptr};

    std::vector<QTableView*> result_lists_;  // result list k belongs to tab k
    bool exporting_ = false;
    bool stop_export_ = false;  // set when the window closes during an export
    // By task number. A task's keyword is known from its submission on; its
    // task-list row only once its member list is read, or when it failed.
    std::map<int, QString> task_keywords_;
    std::map<int, ResultListModel*> task_models_;
    std::map<int, QTreeWidgetItem*> task_rows_;
    std::map<int, bool> failure_shown_;

    // Declared in the order they are needed: the engine's workers report to
    // the observer and write to the store, so the engine goes first.
    std::unique_ptr<RecordStore> store_;
    bool database_open_ = false;
    std::string database_error_;  // why it could not be opened
    GuiObserver observer_;
    std::unique_ptr<CollectionEngine> engine_;
    std::vector<std::unique_ptr<StoredRowsLoader>> loaders_;
};

}  // namespace qinglan
