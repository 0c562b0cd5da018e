// The windows with large lists and busy collections: opening a stored
// keyword of 100,000 rows, sorting (accounts, and companies by pinyin) and
// filtering those rows, and the longest stall of the windows' thread while
// ten keywords are collected with eight members in flight each from the
// sample marketplace. Runs on the offscreen platform unless another is set.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/result_list_model.h"
#include "app/result_list_view.h"
#include "app/result_page.h"
#include "app/task_list.h"
#include "services/fetch.h"
#include "storage/sqlite_store.h"
#include "tests/marketplace_pages.h"
#include "tools/sample_marketplace.h"

namespace {

using namespace qinglan;

constexpr int kRows = 100000;
const char* const kKeyword = "大表";

// Message boxes that nobody answers.
class SilentDialogs final : public Dialogs {
public:
    void message(QWidget*, const QString&, Icon, const QString&, const QString&) override {}
    QString save_file_name(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString open_file_name(QWidget*, const QString&, const QString&) override { return {}; }
    bool confirm(QWidget*, const QString&) override { return false; }
    bool choose_export(QWidget*, const ExportOffer&, ExportChoice*) override { return false; }
};

ContactRecord sample_row(int i) {
    const std::string n = std::to_string(i);
    static const char* const kCities[] = {"杭州", "苏州", "青岛", "北京",
                                          "上海", "广州", "深圳", "成都"};
    return {std::string(kCities[i % 8]) + "青岚贸易有限公司" + n,
            i % 3 == 0 ? "张三" : "李四",
            "member" + n,
            "销售部",
            "经理",
            i % 2 == 0 ? "先生" : "女士",
            "0571-" + std::to_string(88880000 + i % 10000),
            i % 5 == 0 ? "" : "0571-88886667",
            "139" + std::to_string(10000000 + i),
            "浙江省杭州市西湖区文三路" + n + "号",
            "310000",
            "http://www.example" + n + ".cn"};
}

std::filesystem::path bench_folder(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("qinglan-window-bench-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// A data folder whose database holds the keyword's 100,000 rows, written
// in one transaction as a table from before collection states were kept:
// submitted, it is shown from the database.
const std::filesystem::path& stored_folder() {
    static const std::filesystem::path dir = [] {
        const auto folder = bench_folder("stored");
        std::string error;
        if (!SqliteStore::open(folder.string(), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        sqlite3* db = nullptr;
        sqlite3_open(SqliteStore::database_path(folder.string()).c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE \"大表\" (\"编号\" TEXT, \"地址\" TEXT, \"公司名称\" TEXT, "
                     "\"用户账号\" TEXT, \"电话\" TEXT, \"传真\" TEXT, \"称呼\" TEXT, \"移动电话\" "
                     "TEXT, \"职位\" TEXT, \"联系人\" TEXT, \"邮编\" TEXT, \"部门\" TEXT, \"网站\" "
                     "TEXT); BEGIN",
                     nullptr, nullptr, nullptr);
        std::string insert = "INSERT INTO \"大表\" (";
        for (int field = 0; field < kRecordFields; ++field) {
            insert += (field > 0 ? ",\"" : "\"") +
                      std::string(kRecordColumnNames[static_cast<std::size_t>(field)]) + "\"";
        }
        insert += ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?)";
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, insert.c_str(), -1, &statement, nullptr);
        for (int i = 0; i < kRows; ++i) {
            const ContactRecord row = sample_row(i);
            for (int field = 0; field < kRecordFields; ++field) {
                const std::string& value = row[static_cast<std::size_t>(field)];
                sqlite3_bind_text(statement, field + 1, value.data(),
                                  static_cast<int>(value.size()), SQLITE_TRANSIENT);
            }
            sqlite3_step(statement);
            sqlite3_reset(statement);
        }
        sqlite3_finalize(statement);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return folder;
    }();
    return dir;
}

std::unique_ptr<MainWindow> started_window(const std::string& folder, MarketHosts hosts,
                                           Dialogs& dialogs, int parallel = 8) {
    Options settings;
    settings.data_dir = folder;
    settings.hosts = std::move(hosts);
    settings.run_dir = folder;
    settings.program_name = "qinglan";
    settings.parallel = parallel;
    auto window = std::make_unique<MainWindow>(std::move(settings), dialogs);
    window->set_end_program([](int) {});
    window->prepare_database();
    window->show();
    // The search window reads the table list; close it at once.
    QTimer::singleShot(0, [] {
        if (QWidget* search = QApplication::activeModalWidget()) {
            search->close();
        }
    });
    window->open_search_window();
    // The first drawing of the window loads its fonts: not part of what is measured.
    window->repaint();
    QApplication::processEvents();
    return window;
}

// From the submission of the stored keyword until its 100,000 rows are in
// the list and the list has been drawn with them.
void BM_OpenStoredKeyword(benchmark::State& state) {
    SilentDialogs dialogs;
    for (auto _ : state) {
        state.PauseTiming();
        auto window = started_window(stored_folder().string(), {}, dialogs);
        state.ResumeTiming();
        window->submit_keyword(QString::fromUtf8(kKeyword));
        window->findChild<QTabWidget*>("选择夹1")->setCurrentIndex(1);
        ResultListModel* model = window->result_model(1);
        while (model->total_rows() < kRows) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        window->result_list(1)->repaint();
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenStoredKeyword)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A shown list of 100,000 rows.
struct ShownRows {
    ShownRows() {
        std::vector<ContactRecord> rows;
        rows.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            rows.push_back(sample_row(kRows - 1 - i));
        }
        model.put_records(0, std::move(rows));
        view.setModel(&model);
        view.resize(800, 400);
        view.show();
        QApplication::processEvents();
    }
    ResultListModel model;
    QTableView view;
};

// Sorting by the account column, in turn up and down, the view redrawn.
void BM_SortRows(benchmark::State& state) {
    ShownRows shown;
    bool up = true;
    for (auto _ : state) {
        shown.model.sort(kAccount, up ? Qt::AscendingOrder : Qt::DescendingOrder);
        shown.view.repaint();
        up = !up;
    }
}
BENCHMARK(BM_SortRows)->Unit(benchmark::kMillisecond)->UseRealTime();

// Sorting by the company column, Chinese text put in pinyin order by the
// collator, in turn up and down, the view redrawn. The first sort makes
// the cells' collation keys (first_sort_ms); the others reuse them.
void BM_SortRowsByPinyin(benchmark::State& state) {
    ShownRows shown;
    QElapsedTimer first;
    first.start();
    shown.model.sort(kCompanyName, Qt::AscendingOrder);
    shown.view.repaint();
    state.counters["first_sort_ms"] = static_cast<double>(first.elapsed());
    bool up = false;
    for (auto _ : state) {
        shown.model.sort(kCompanyName, up ? Qt::AscendingOrder : Qt::DescendingOrder);
        shown.view.repaint();
        up = !up;
    }
}
BENCHMARK(BM_SortRowsByPinyin)->Unit(benchmark::kMillisecond)->UseRealTime();

// A filter that a tenth of the rows match (accounts member1…, typed in
// upper case), then one matching none, the view redrawn after each.
void BM_FilterRows(benchmark::State& state) {
    ShownRows shown;
    const QString needles[2] = {QStringLiteral("MEMBER1"), QStringLiteral("无此公司")};
    int turn = 0;
    for (auto _ : state) {
        shown.model.set_filter(needles[turn++ % 2]);
        shown.view.repaint();
    }
    shown.model.set_filter(needles[0]);
    state.counters["shown"] = shown.model.rowCount();
}
BENCHMARK(BM_FilterRows)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole list selected and copied with Ctrl+C, as for a paste into a
// spreadsheet.
void BM_CopyAllRows(benchmark::State& state) {
    ShownRows shown;
    auto view = std::make_unique<ResultListView>(&shown.model);
    view->show();
    view->selectAll();
    for (auto _ : state) {
        QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
        QApplication::sendEvent(view.get(), &copy);
    }
    state.counters["bytes"] = static_cast<double>(QApplication::clipboard()->text().size());
}
BENCHMARK(BM_CopyAllRows)->Unit(benchmark::kMillisecond)->UseRealTime();

// The windows' thread's processor time so far, in milliseconds.
double thread_cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Ten keywords of 300 members each collected at once, eight members in
// flight per task, the first task's list on show; a 1 ms timer measures
// the longest time the windows' thread did not come back to its loop
// (longest_stall_ms), and the most processor time it spent in one such gap
// (longest_busy_ms): on a loaded machine the first also counts the time the
// thread waited for a processor.
void BM_StallWhileTenTasksCollect(benchmark::State& state) {
    SampleMarketplace market;
    market.start();
    for (int k = 0; k < 10; ++k) {
        serve_members(market, "任务" + std::to_string(k), "k" + std::to_string(k) + "m", 300, 2);
    }
    SilentDialogs dialogs;
    qint64 longest = 0;
    double busiest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto folder = bench_folder("collect");
        auto window = started_window(
            folder.string(), {market.search_host(), market.member_host(), market.contact_domain()},
            dialogs, 8);
        state.ResumeTiming();
        for (int k = 0; k < 10; ++k) {
            window->submit_keyword(QStringLiteral("任务%1").arg(k));
        }
        window->findChild<QTabWidget*>("选择夹1")->setCurrentIndex(1);
        auto* tasks = window->findChild<TaskList*>("超级列表框1");
        QElapsedTimer since_tick;
        since_tick.start();
        double cpu_at_tick = thread_cpu_ms();
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            longest = std::max(longest, since_tick.restart());
            const double cpu = thread_cpu_ms();
            busiest = std::max(busiest, cpu - cpu_at_tick);
            cpu_at_tick = cpu;
        });
        ticks.start(1);
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            for (int task = 1; task <= 10; ++task) {
                if (tasks->running(task)) {
                    return;
                }
            }
            loop.quit();
        });
        check.start(20);
        loop.exec();
        state.PauseTiming();
        window.reset();
        std::filesystem::remove_all(folder);
        state.ResumeTiming();
    }
    state.counters["longest_stall_ms"] = static_cast<double>(longest);
    state.counters["longest_busy_ms"] = busiest;
}
BENCHMARK(BM_StallWhileTenTasksCollect)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(stored_folder());
    return 0;
}
