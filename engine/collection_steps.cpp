// The two steps of a collection task: the search step on the search worker
// and the member step on the member worker.

#include "engine/collection_engine.h"
#include "engine/member_card_parser.h"
#include "engine/page_text.h"
#include "engine/result_page_scan.h"
#include "services/charset.h"
#include "services/fetch.h"

namespace qinglan {
namespace {

constexpr int kStatePart = 0;
constexpr int kProgressPart = 1;

}  // namespace

Text CollectionEngine::fetch_text(const Text& url) {
    FetchInfo info;
    const Bytes body = fetch_page(url, &stopping_, &info);
    return page_text(body, info.content_type);
}

void CollectionEngine::run_search_step(Task& task) {
    observer_.status_changed(task.number, kStatePart, "状态：加载数据，请稍等。。。。");
    const Text url = fill_request_template(hosts_, encode_keyword(task.keyword_gbk), kSearchPage);
    task.members = scan_member_accounts(fetch_text(url));
    task.outcome.members = static_cast<int>(task.members.size());
    observer_.status_changed(task.number, kStatePart, "状态：加载完成");
}

void CollectionEngine::run_member_step(Task& task) {
    const int n = static_cast<int>(task.members.size());
    observer_.task_row_added(task.number, task.keyword, n);
    for (int i = 1; i <= n; ++i) {
        if (stopping_) {
            return;
        }
        collect_member(task, i, n);
    }
    if (stopping_) {
        return;
    }
    task.outcome.completed = true;
    observer_.status_changed(task.number, kProgressPart,
                             std::to_string(n) + "位用户信息分析完成可以导出");
}

void CollectionEngine::collect_member(Task& task, int i, int n) {
    observer_.status_changed(
        task.number, kProgressPart,
        "正在分析用户" + std::to_string(i) + "/" + std::to_string(n) + "位的信息");
    const Text& account = task.members[static_cast<std::size_t>(i) - 1];
    // Card first, then the contact page, both before anything is extracted.
    const Text card = fetch_text(fill_request_template(hosts_, account, kMemberCard));
    const Text contact = fetch_text(fill_request_template(hosts_, account, kContactPage));
    if (stopping_) {
        // What a stopped transfer left is incomplete: the member in hand is dropped.
        return;
    }

    const int row = i - 1;
    ContactRecord record;
    extract_contact_record(card, contact, mobile_prefixes_, [&](int field, const Text& value) {
        std::string& cell = record[static_cast<std::size_t>(field)];
        cell = gbk_to_utf8(value);
        observer_.record_cell(task.number, row, field, cell);
    });
    observer_.record_collected(task.number, row, record);
    task.outcome.handled = i;

    // Without its own table a task's rows are not written anywhere: a name
    // the database reads as another table's must not reach that table.
    std::string error = task.table_error;
    if (task.outcome.table_ready && store_.insert_record(task.keyword, record, &error)) {
        ++task.outcome.stored;
    } else {
        ++task.outcome.failed_inserts;
        observer_.storage_failed(task.number, error);
    }
    observer_.member_done(task.number, i);
}

}  // namespace qinglan
