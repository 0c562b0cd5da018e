#pragma once

// The application's main window: the toolbar of commands, the task list, the
// tabs (the start page with the notice, then one result tab per submitted
// keyword) and the status line. It owns every result list and the
// collection session (the database, the engine and the tasks), and shows
// what the session reports; the engine's workers reach it only through the
// queued reports of the session's observer.
//
// Each task's row in the task list shows its state (queued, collecting,
// retrying, done, incomplete, failed with the reason, stopped); a task with
// members that could not be fetched counts them there and says on the
// status line that submitting the keyword again collects them. The status
// line shows one running task's texts at a time, so its counts never mix
// tasks. A keyword being collected elsewhere is refused with a message and
// gets nothing, unless a worker of the team's work queue collects it: then
// it shows what is stored so far, as a complete keyword does. When the last
// running task ends the window asks for attention and the status line sums
// up the rows stored, the members failed and the searches that failed.
//
// The window opens at its usual size, less on a small screen, and can be
// resized and maximized. A database that cannot be opened is said in a
// banner, over the window and over each tab whose rows it cannot store.
//
// A keyword submitted again gets a tab of its own, numbered ("崩溃 (2)");
// a tab's tooltip tells the rows stored for its keyword. Result tabs close,
// and offer export, collecting again and deleting the stored keyword.
//
// Closing it, Esc or "退出" stop the running collections cleanly: transfers
// end promptly and the rows stored so far stay. While a task runs they ask
// first (否 the default), so that a stray key does not end a collection; a
// quit signal ends the windows without asking. Closing it during an export
// stops the export, which leaves no file.

#include <QMainWindow>

#include <QPointer>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/collection_session.h"
#include "app/dialogs.h"
#include "app/gui_observer.h"
#include "app/options.h"
#include "app/toolbar_commands.h"
#include "storage/postgres_queue.h"

class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTableView;
class QToolBar;

namespace qinglan {

class ResultListModel;
class ResultPage;
class SearchWindow;
class TaskList;
class ExportJob;
class HelpWindow;
struct ExportChoice;

class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    // `settings`: its run_dir and program_name too, for the update's hand-over.
    MainWindow(Options settings, Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    const Options& settings() const { return settings_; }

    static QString caption();
    static QString ready_text();  // the status line's first text
    static QString built_in_notice();

    // Opens the database. One that cannot be opened is reported, and the
    // program goes on without it: rows are shown and exported, not stored.
    void prepare_database();
    bool database_open() const { return session_.database_open(); }

    // The text of the start page.
    void show_notice(const QString& text);

    // How the program ends (the event loop's exit by default); tests replace it.
    void set_end_program(std::function<void(int)> end_program);
    // Stops the collections, then ends the program, without asking.
    void end_program(int status);
    // True when nothing runs, else when the user says the running tasks may stop.
    bool may_close();

    // The toolbar's click on button `index` (0-based) runs that button's command.
    void on_toolbar_click(int index);
    void run_command(Command command);
    void open_search_window();
    // The help window, opened or brought to the front.
    void open_help();
    void submit_keyword(const QString& keyword);
    void export_to_excel();
    // An export is under way: from its start until it has ended.
    bool exporting() const { return export_ != nullptr; }

    // Part 0 the search state, 1 the member progress, 2 the summary once
    // every task has ended.
    QString status_text(int part) const;
    void set_status(int part, const QString& text);

    // The result list of tab `tab_index` (1-based among the tabs after the
    // start page); a lookup outside the lists is a fault that ends the program.
    QTableView* result_list(int tab_index);
    int result_list_count() const;
    ResultListModel* result_model(int tab_index);
    ResultPage* result_page(int tab_index);

    // What a result tab's menu offers.
    void close_result_tab(int tab_index);
    void collect_again(int tab_index);
    void forget_keyword(int tab_index);
    // A task's menu offers it (and stopping the task): its keyword submitted
    // again, into the task's own tab while that is open.
    void continue_task(int task);

    // Stops every running collection and waits for the workers.
    void stop_collection();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Keeps the toolbar's shortcuts from the filter boxes, whose editing
    // keys would take some of them (Ctrl+E: the end of the line).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_central_units();
    void build_status_bar();
    void apply_updates(CollectionUpdates&& updates);
    void show_storage_failures(const std::vector<std::pair<int, QString>>& failures);
    void show_task_end(int task, const TaskOutcome& outcome);
    void follow_status(const std::map<int, QString> (&texts)[2]);
    void show_next_status();
    static QString summary_text(const CollectionSession::Summary& all);
    // Submits `keyword`; `again` collects it anew. `page`: the result page
    // to fill, else a new tab gets one.
    void collect(const QString& keyword, bool again, ResultPage* page);
    void start_task(int task, const QString& keyword, ResultPage* page);
    // `page` emptied for the keyword's new rows; without one, a new tab's.
    ResultPage* page_for(const QString& keyword, ResultPage* page);
    // The page task `task` shows its rows in; null once its tab is closed.
    ResultPage* page_of(int task) const;
    void load_stored_rows(ResultPage* page, int row_limit);
    void refuse_other_site(const QString& keyword, const SubmitResult& result);
    void refused(const QString& keyword, const SubmitResult& result, ResultPage* page);
    // "站点：NAME" when the tasks read a site other than the built-in one.
    QString site_note() const;
    void show_stored_rows(const QString& keyword, long long rows);
    void count_stored_rows(const QString& keyword);
    void show_tab_menu(const QPoint& position);
    void start_export(ResultPage& page, const ExportChoice& choice, const QString& path);
    void open_settings();
    void warn_not_stored(int task, const QString& keyword, ResultPage* page);
    // The team's work queue, with a server as the database only: shown in
    // the search window, added to from there, and asked whether a keyword
    // claimed elsewhere is a worker's.
    WorkQueue* team_queue();  // null without a server
    void show_team_queue(SearchWindow& window);
    bool add_to_team_queue(const std::vector<std::string>& keywords,
                           std::vector<QueueEntry>* entries);
    bool held_by_queue_worker(const QString& keyword);

    Options settings_;  // as the settings dialog last left them
    // The database the dialog last chose, used from the next start on.
    std::optional<std::string> next_database_url_;
    Dialogs& dialogs_;
    std::function<void(int)> end_program_;
    bool ending_ = false;  // the program is ending: closing asks nothing

    QToolBar* toolbar_ = nullptr;
    TaskList* task_list_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QPlainTextEdit* notice_box_ = nullptr;
    QLabel* database_banner_ = nullptr;  // shown while the database cannot be used
    QLabel* status_parts_[3] = {nullptr, nullptr, nullptr};

    int status_task_ = 0;  // the task whose texts the status line shows
    std::map<int, std::array<QString, 2>> task_status_;  // by task: its last texts
    int pages_made_ = 0;                                 // names the result lists
    std::map<QString, int> submissions_;  // by keyword: tabs it got, for their titles

    CollectionSession session_;
    std::unique_ptr<WorkQueue> queue_;  // made on first use, on the session's server
    // Reads the store and the lists' rows taken at its start: it ends first.
    std::unique_ptr<ExportJob> export_;
    // Where the last export went, for this session: the next one starts there.
    QString export_folder_;
    QPointer<HelpWindow> help_;  // while open
};

}  // namespace qinglan
