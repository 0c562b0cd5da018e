#pragma once

// What the window tests share: message boxes that answer at once and keep
// what they were asked, a data folder, and a sample marketplace.

#include <QApplication>
#include <QLineEdit>
#include <QString>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/export_dialog.h"
#include "app/main_window.h"
#include "app/search_window.h"
#include "engine/request.h"
#include "services/charset.h"
#include "services/fetch.h"
#include "tests/marketplace_pages.h"
#include "tests/temp_folder.h"
#include "tools/sample_marketplace.h"

namespace qinglan {

class RecordingDialogs final : public Dialogs {
public:
    struct Message {
        QString text;
        Icon icon;
        QString caption;
        QString details;
    };

    void message(QWidget*, const QString& text, Icon icon, const QString& caption,
                 const QString& details) override {
        messages.push_back({text, icon, caption.isEmpty() ? default_caption() : caption, details});
    }
    QString save_file_name(QWidget*, const QString& title, const QString& filter,
                           const QString& default_suffix) override {
        save_requests.push_back(title + "|" + filter + "|" + default_suffix);
        return save_answer;
    }
    QString open_file_name(QWidget*, const QString& title, const QString& filter) override {
        open_requests.push_back(title + "|" + filter);
        return open_answer;
    }
    QString save_file_name_suggesting(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& default_suffix,
                                      const QString& suggested) override {
        save_suggestions.push_back(suggested);
        return save_file_name(parent, title, filter, default_suffix);
    }
    bool confirm(QWidget*, const QString& text) override {
        questions.push_back(text);
        return confirm_answer;
    }
    bool choose_export(QWidget*, const ExportOffer& offer, ExportChoice* choice) override {
        export_offers.push_back(offer);
        export_presets.push_back(*choice);
        *choice = export_answer;
        return export_chosen && export_offers.size() <= export_dialogs_chosen;
    }

    std::vector<Message> messages;
    std::vector<QString> save_requests;
    std::vector<QString> save_suggestions;
    QString save_answer;
    std::vector<QString> open_requests;
    QString open_answer;
    std::vector<QString> questions;
    bool confirm_answer = true;
    std::vector<ExportOffer> export_offers;
    std::vector<ExportChoice> export_presets;  // what each dialog opened with
    ExportChoice export_answer;                // the selected tab's rows, all of them
    bool export_chosen = true;
    // Export dialogs answered with export_answer; the ones after are cancelled.
    std::size_t export_dialogs_chosen = SIZE_MAX;
};

// Appends `count` rows named 公司0, 公司1, … to tab `tab`'s list after its
// first row: a list long enough for an export to take a while.
inline void add_many_rows(MainWindow& window, int tab, std::size_t count) {
    std::vector<ContactRecord> records(count, ContactRecord{});
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i][kCompanyName] = "公司" + std::to_string(i);
    }
    window.result_model(tab)->put_records(1, std::move(records));
}

// Opens the window's search window and runs `act` on it while it is open;
// the search window is closed with Esc afterwards.
inline void with_search_window(MainWindow& window, const std::function<void(SearchWindow&)>& act) {
    bool acted = false;
    QTimer::singleShot(0, [&] {
        auto* search = qobject_cast<SearchWindow*>(QApplication::activeModalWidget());
        QVERIFY(search != nullptr);
        act(*search);
        acted = true;
        QTest::keyClick(search, Qt::Key_Escape);
    });
    window.open_search_window();
    QVERIFY(acted);
}

// A data folder, a sample marketplace, answering message boxes and the main
// window over them, made afresh for each test function (init/cleanup).
class WindowFixture {
protected:
    // `fetch` as the test wants it, with short time-outs and retries.
    void init_fixture(FetchSettings fetch = {}) {
        folder_ = std::make_unique<TempFolder>(QTest::currentTestFunction());
        market_ = std::make_unique<SampleMarketplace>();
        QVERIFY(market_->start());
        dialogs_ = std::make_unique<RecordingDialogs>();
        ended_.clear();
        fetch.connect_seconds = 5;
        fetch.stall_seconds = 5;
        fetch.retry_base_ms = 10;
        set_fetch_settings(fetch);
    }

    void cleanup_fixture() {
        window_.reset();
        market_.reset();
        folder_.reset();
        set_fetch_settings({});
    }

    Options settings(const std::string& update_host = {}, int parallel = 8) const {
        Options settings;
        settings.data_dir = folder_->str();
        settings.hosts = {market_->search_host(), market_->member_host(),
                          market_->contact_domain()};
        settings.update_host = update_host;
        settings.run_dir = folder_->str();
        settings.program_name = "qinglan";
        settings.parallel = parallel;
        return settings;
    }

    // The window, its database open; the program's end is only recorded.
    MainWindow& open_window(const std::string& update_host = {}, int parallel = 8) {
        window_ = std::make_unique<MainWindow>(settings(update_host, parallel), *dialogs_);
        window_->set_end_program([this](int status) { ended_.push_back(status); });
        window_->prepare_database();
        window_->show();
        return *window_;
    }

    void with_search_window(const std::function<void(SearchWindow&)>& act) {
        qinglan::with_search_window(*window_, act);
    }

    // Submits the keyword with the search window's button, then closes it.
    void submit_by_button(const QString& keyword) {
        with_search_window([&](SearchWindow& search) {
            search.findChild<QLineEdit*>("编辑框1")->setText(keyword);
            QTest::mouseClick(search.findChild<QWidget*>("an1"), Qt::LeftButton);
        });
    }

    QTabWidget* tabs() { return window_->findChild<QTabWidget*>("选择夹1"); }

    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<SampleMarketplace> market_;
    std::unique_ptr<RecordingDialogs> dialogs_;
    std::unique_ptr<MainWindow> window_;
    std::vector<int> ended_;
};

// Runs a QtTest object on the offscreen platform, away from any proxy.
template <typename Test>
int run_window_test(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        qunsetenv(name);
    }
    QApplication application(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

}  // namespace qinglan
