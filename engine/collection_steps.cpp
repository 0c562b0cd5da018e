// The two steps of a collection task: the search step on the search worker
// and the member step on the member worker.

#include <cstdio>

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

// The reason of a failed fetch as the windows show it: Chinese, with the
// technical detail in brackets.
std::string chinese_reason(const FetchInfo& info) {
    const char* reason = "传输失败";
    switch (info.error) {
        case FetchError::kNone:
            return "服务器返回 " + std::to_string(info.status);
        case FetchError::kBadAddress:
            reason = "地址无效";
            break;
        case FetchError::kResolve:
            reason = "无法解析主机名";
            break;
        case FetchError::kConnect:
            reason = "无法连接服务器";
            break;
        case FetchError::kCertificate:
            reason = "证书被拒绝";
            break;
        case FetchError::kRedirects:
            reason = "重定向次数过多";
            break;
        case FetchError::kStalled:
            reason = "服务器长时间无响应";
            break;
        case FetchError::kTooSlow:
            reason = "传输过慢";
            break;
        case FetchError::kCutOff:
            reason = "连接中途断开";
            break;
        case FetchError::kTooLarge:
            reason = "页面过大";
            break;
        case FetchError::kStopped:
            reason = "已停止";
            break;
        case FetchError::kOther:
            break;
    }
    return std::string(reason) + "（" + fetch_failure_text(info) + "）";
}

}  // namespace

bool CollectionEngine::fetch_text(const Text& url, Text* text, std::string* failure) {
    FetchInfo info;
    const Bytes body = fetch_with_retries(url, &stopping_, &info);
    if (fetch_failed(info)) {
        *failure = fetch_failure_text(info);
        return false;
    }
    *text = page_text(body, info.content_type);
    return true;
}

void CollectionEngine::run_search_step(Task& task) {
    if (task.resumed.listed) {
        // The member list of an earlier run stands: no search page is asked for.
        task.members = task.resumed.members;
        task.outcome.members = static_cast<int>(task.members.size());
        task.outcome.stored_before = task.resumed.stored_count();
        observer_.status_changed(task.number, kStatePart, "状态：加载完成");
        return;
    }
    observer_.status_changed(task.number, kStatePart, "状态：加载数据，请稍等。。。。");
    if (!list_members(task)) {
        return;
    }
    observer_.status_changed(task.number, kStatePart, "状态：加载完成");
    if (task.members.empty()) {
        observer_.status_changed(
            task.number, kStatePart,
            "状态：搜索页中没有会员账号（" + task.outcome.empty_page_chinese + "）");
    }
}

// Fetches the search page and saves its member list; false with the task's
// failure set when either fails, or when stopped.
bool CollectionEngine::list_members(Task& task) {
    FetchInfo info;
    const Text url = fill_request_template(hosts_, encode_keyword(task.keyword_gbk), kSearchPage);
    const Bytes body = fetch_with_retries(url, &stopping_, &info);
    if (stopping_) {
        return false;
    }
    TaskOutcome& outcome = task.outcome;
    if (fetch_failed(info)) {
        outcome.failure = "search page: " + fetch_failure_text(info);
        outcome.failure_chinese = "搜索页" + chinese_reason(info);
        observer_.status_changed(task.number, kStatePart, "失败：" + outcome.failure_chinese);
        return false;
    }
    const Text page = page_text(body, info.content_type);
    task.members = scan_member_accounts(page);
    outcome.members = static_cast<int>(task.members.size());
    if (task.members.empty()) {
        const std::string title = gbk_to_utf8(page_title(page));
        const std::string size = std::to_string((body.size() + 512) / 1024) + " KB";
        outcome.empty_page = "title \"" + title + "\", " + size;
        outcome.empty_page_chinese = "标题“" + title + "”，" + size;
    }
    std::string error;
    if (outcome.table_ready &&
        !store_.save_member_list(task.keyword, task.members, task.again, &error)) {
        outcome.failure = error;
        outcome.failure_chinese = "无法保存会员列表（" + error + "）";
        observer_.storage_failed(task.number, error);
        observer_.status_changed(task.number, kStatePart, "失败：" + outcome.failure_chinese);
        return false;
    }
    return true;
}

void CollectionEngine::run_member_step(Task& task) {
    const int n = static_cast<int>(task.members.size());
    observer_.task_row_added(task.number, task.keyword, n);
    const int stored_before = task.outcome.stored_before;
    if (stored_before > 0) {
        observer_.member_done(task.number, stored_before);
    }
    for (int i = 1; i <= n; ++i) {
        if (stopping_) {
            return;
        }
        const auto index = static_cast<std::size_t>(i) - 1;
        if (index < task.resumed.stored.size() && task.resumed.stored[index]) {
            continue;  // stored by an earlier run
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
    TaskOutcome& outcome = task.outcome;
    // Card first, then the contact page, both before anything is extracted.
    // A member whose card did not come is failed already: its contact page
    // is not asked for.
    Text card, contact;
    std::string failure;
    bool fetched = fetch_text(fill_request_template(hosts_, account, kMemberCard), &card, &failure);
    if (!fetched) {
        failure = "card of " + gbk_to_utf8(account) + ": " + failure;
    } else if (!(fetched = fetch_text(fill_request_template(hosts_, account, kContactPage),
                                      &contact, &failure))) {
        failure = "contact page of " + gbk_to_utf8(account) + ": " + failure;
    }
    if (stopping_) {
        // What a stopped transfer left is incomplete: the member in hand is dropped.
        return;
    }
    if (!fetched) {
        // Not stored, so a later run of the keyword collects it.
        if (outcome.failed_members++ == 0) {
            outcome.member_failure = failure;
        }
        observer_.member_failed(task.number, outcome.failed_members, failure);
        return;
    }

    const int row = task.rows++;
    ContactRecord record;
    extract_contact_record(card, contact, mobile_prefixes_, [&](int field, const Text& value) {
        std::string& cell = record[static_cast<std::size_t>(field)];
        cell = gbk_to_utf8(value);
        observer_.record_cell(task.number, row, field, cell);
    });
    observer_.record_collected(task.number, row, record);
    ++outcome.handled;

    // Without its own table a task's rows are not written anywhere: a name
    // the database reads as another table's must not reach that table.
    std::string error = task.table_error;
    if (outcome.table_ready && store_.insert_record(task.keyword, record, i - 1, &error)) {
        ++outcome.stored;
    } else {
        ++outcome.failed_inserts;
        observer_.storage_failed(task.number, error);
    }
    observer_.member_done(task.number, outcome.stored_before + outcome.handled);
}

}  // namespace qinglan
