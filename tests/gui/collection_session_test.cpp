// The collections behind the main window, without it: the sums the status
// line shows once every task has ended (failed members and failed tasks
// included, each task counted once), and a database that cannot be opened.

#include <QtTest>

#include <fstream>
#include <memory>
#include <vector>

#include "app/collection_session.h"
#include "engine/site/built_in_site.h"
#include "gui_fixture.h"
#include "tests/marketplace_pages.h"

namespace qinglan {

class CollectionSessionTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<SampleMarketplace> market_;
    // The reports are bound to it; it goes right after the session, as a
    // window goes with its session.
    std::unique_ptr<QObject> context_;
    std::unique_ptr<CollectionSession> session_;
    std::vector<CollectionSession::Summary> summaries_;
    std::vector<int> ended_;

    // A session whose reports end tasks as the main window ends them.
    void open(const std::string& place) {
        context_ = std::make_unique<QObject>();
        session_ = std::make_unique<CollectionSession>(
            context_.get(), [this](CollectionUpdates&& updates) {
                for (const auto& [task, outcome] : updates.finished) {
                    ended_.push_back(task);
                    if (const auto summary = session_->task_ended(task, outcome)) {
                        summaries_.push_back(*summary);
                    }
                }
            });
        session_->open(place,
                       {market_->search_host(), market_->member_host(), market_->contact_domain()},
                       4, built_in_site());
    }

    int start(const std::string& keyword) {
        const SubmitResult result = session_->submit(keyword, false);
        if (result.kind == SubmitResult::kStarted) {
            session_->task_started(result.task, QString::fromStdString(keyword), nullptr);
        }
        return result.task;
    }

private slots:
    void init() {
        folder_ = std::make_unique<TempFolder>(QTest::currentTestFunction());
        market_ = std::make_unique<SampleMarketplace>();
        QVERIFY(market_->start());
        FetchSettings fetch;
        fetch.connect_seconds = 5;
        fetch.stall_seconds = 5;
        fetch.retry_base_ms = 10;
        set_fetch_settings(fetch);
        summaries_.clear();
        ended_.clear();
    }

    void cleanup() {
        session_.reset();
        context_.reset();
        market_.reset();
        folder_.reset();
        set_fetch_settings({});
    }

    void theSummaryComesOnceTheLastTaskHasEnded() {
        serve_members(*market_, "甲", "a", 3);
        market_->set_behaviour("card/a1", {.status = 503});
        serve_members(*market_, "乙", "b", 2, 300);
        serve_members(*market_, "丙", "c", 1);
        market_->set_behaviour("search/" + encode_keyword(utf8_to_gbk("丙")), {.status = 503});
        open(folder_->str());
        QVERIFY(session_->database_open());
        const int first = start("甲");
        const int second = start("乙");
        const int failing = start("丙");
        QVERIFY(first > 0 && second > 0 && failing > 0);
        QCOMPARE(session_->task(first)->keyword, QString("甲"));
        QVERIFY(session_->task(second)->running);

        QTRY_COMPARE(ended_.size(), std::size_t(3));
        // Two stored by the first (one member failed), two by the second,
        // none by the one whose search failed: said once, for all three.
        QCOMPARE(summaries_.size(), std::size_t(1));
        QCOMPARE(summaries_[0].stored, 4LL);
        QCOMPARE(summaries_[0].failed, 1LL);
        QVERIFY(!session_->task(first)->running);
        QCOMPARE(session_->stored_rows("甲").value_or(-1), 2LL);

        // The next round counts from nothing.
        serve_members(*market_, "丁", "d", 1);
        start("丁");
        QTRY_COMPARE(summaries_.size(), std::size_t(2));
        QCOMPARE(summaries_[1].stored, 1LL);
        QCOMPARE(summaries_[1].failed, 0LL);
    }

    // A task's storage failure is said once, whoever notices it first.
    void aFailureIsSaidOncePerTask() {
        open(folder_->str());
        session_->task_started(7, "甲", nullptr);
        QVERIFY(session_->first_failure(7));
        QVERIFY(!session_->first_failure(7));
        QVERIFY(session_->first_failure(8));
        QVERIFY(session_->task(9) == nullptr);
        QCOMPARE(session_->keyword_of(9), QString());
    }

    // Without a database every keyword is still collected, and only shown.
    void withoutTheDatabaseKeywordsAreCollected() {
        std::ofstream(folder_->path() / "date") << "not a folder";
        serve_members(*market_, "无库", "n", 2);
        open(folder_->str());
        QVERIFY(!session_->database_open());
        QVERIFY(!session_->database_error().empty());
        const SubmitResult result = session_->submit("无库", false);
        QCOMPARE(result.kind, SubmitResult::kStarted);
        QVERIFY(!result.table_ready);
        session_->task_started(result.task, "无库", nullptr);
        QTRY_COMPARE(summaries_.size(), std::size_t(1));
        QCOMPARE(summaries_[0].stored, 0LL);
        QVERIFY(!session_->stored_rows("无库"));
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::CollectionSessionTest>(argc, argv);
}

#include "collection_session_test.moc"
