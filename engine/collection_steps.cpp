// The steps of a collection task: the search page, then its members, each
// step run on the task's strand when the page it waited for is back.

#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

#include "engine/collection_engine.h"
#include "engine/collection_task.h"
#include "engine/page_text.h"
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
        case FetchError::kProxy:
            reason = "代理服务器拒绝登录";
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

// Why a page that is still a block page after every try is no answer.
std::string blocked_reason(const Text& page) {
    return "blocked by the site (\"" + gbk_to_utf8(page_title(page)) + "\")";
}

// The member page's text as the site reads it, or false with why it failed.
bool page_or_failure(const Site& site, const std::string& keyword, const Bytes& body,
                     const FetchInfo& info, Text* text, std::string* failure) {
    if (fetch_failed(info)) {
        *failure = fetch_failure_text(info);
        return false;
    }
    *text = site.page_text(body, info.content_type);
    if (site.blocked(*text, false, keyword)) {
        *failure = blocked_reason(*text);
        text->clear();
        return false;
    }
    return true;
}

// Asks, on the transfer loop's thread as each answer comes, whether it is a
// block page, so that the loop tries it again like a 429 answer with no
// thread waiting.
std::function<bool(const Bytes&, const FetchInfo&)> block_judge(std::shared_ptr<const Site> site,
                                                                std::string keyword,
                                                                bool search_page) {
    if (!site->may_block(search_page)) {
        return {};
    }
    return [site = std::move(site), keyword = std::move(keyword), search_page](
               const Bytes& body, const FetchInfo& info) {
        return site->blocked(site->page_text(body, info.content_type), search_page, keyword);
    };
}

// How a member's failure names its page `page`.
std::string page_label(const Site& site, std::size_t page) {
    const std::vector<MemberPage>& pages = site.member_pages();
    return page < pages.size() ? pages[page].label : std::string("page");
}

}  // namespace

void CollectionEngine::begin(Task& task) {
    if (task.resumed.listed) {
        // The member list of an earlier run stands: no search page is asked for.
        task.members = task.resumed.members;
        task.outcome.members = static_cast<int>(task.members.size());
        task.outcome.stored_before = task.resumed.stored_count();
        observer_.status_changed(task.number, kStatePart, "状态：加载完成");
        start_members(task);
        return;
    }
    observer_.task_waiting(task.number, true);
    observer_.status_changed(task.number, kStatePart, "状态：加载数据，请稍等。。。。");
    Text url;
    std::string refusal;  // the keyword was accepted when it was submitted
    task.site->search_address(task.hosts, task.keyword, 1, &url, &refusal);
    TransferLoop::Request request = page_request(
        task, url, [this, &task](Bytes body, FetchInfo info) { search_done(task, body, info); });
    request.blocked = block_judge(task.site, task.keyword, true);
    TransferLoop::shared().submit(std::move(request));
}

// Lists the search page's members and saves the list; fails the task when
// the page or the saving fails.
void CollectionEngine::search_done(Task& task, const Bytes& body, const FetchInfo& info) {
    TaskOutcome& outcome = task.outcome;
    if (task.page_saver) {
        task.page_saver->save_search_page(task.keyword, 1, body, info);
    }
    if (stopped(task)) {
        finish(task);
        return;
    }
    if (fetch_failed(info)) {
        fail_task(task, "search page: " + fetch_failure_text(info),
                  "搜索页" + chinese_reason(info));
        return;
    }
    const Text page = task.site->page_text(body, info.content_type);
    if (task.site->blocked(page, true, task.keyword)) {
        // Still a block page after every try: no answer, so nothing is saved
        // and the keyword stays to be searched again.
        fail_task(task, "search page: " + blocked_reason(page),
                  "搜索页被拦截（" + gbk_to_utf8(page_title(page)) + "）");
        return;
    }
    task.members = task.site->accounts(page);
    outcome.members = static_cast<int>(task.members.size());
    if (task.members.empty()) {
        const std::string title = gbk_to_utf8(page_title(page));
        const std::string size = std::to_string((body.size() + 512) / 1024) + " KB";
        outcome.empty_page = "title \"" + title + "\", " + size;
        outcome.empty_page_chinese = "标题“" + title + "”，" + size;
        if (task.again) {
            // A page without accounts (a login or verification page, most
            // likely) is no new member list: the stored rows and their
            // state stay as they were.
            fail_task(
                task,
                "the search page lists no member account (" + outcome.empty_page +
                    "); the stored rows are kept",
                "搜索页中没有会员账号（" + outcome.empty_page_chinese + "），已保存的数据保持不变");
            return;
        }
    }
    std::string error;
    if (outcome.table_ready &&
        !store_.save_member_list(task.keyword, task.members, task.again, &error)) {
        outcome.failure = error;
        outcome.failure_chinese = "无法保存会员列表（" + error + "）";
        observer_.storage_failed(task.number, error);
        observer_.status_changed(task.number, kStatePart, "失败：" + outcome.failure_chinese);
        finish(task);
        return;
    }
    observer_.status_changed(task.number, kStatePart, "状态：加载完成");
    if (task.members.empty()) {
        observer_.status_changed(
            task.number, kStatePart,
            "状态：搜索页中没有会员账号（" + outcome.empty_page_chinese + "）");
    }
    start_members(task);
}

// Ends the task as failed with the reason, in English and in Chinese.
void CollectionEngine::fail_task(Task& task, std::string failure, std::string failure_chinese) {
    task.outcome.failure = std::move(failure);
    task.outcome.failure_chinese = std::move(failure_chinese);
    observer_.status_changed(task.number, kStatePart, "失败：" + task.outcome.failure_chinese);
    finish(task);
}

void CollectionEngine::start_members(Task& task) {
    const int n = static_cast<int>(task.members.size());
    observer_.task_row_added(task.number, task.keyword, n);
    if (task.outcome.stored_before > 0) {
        observer_.member_done(task.number, task.outcome.stored_before);
    }
    for (int i = 0; i < n; ++i) {
        const auto index = static_cast<std::size_t>(i);
        // Members stored by an earlier run are not asked for again.
        if (index >= task.resumed.stored.size() || !task.resumed.stored[index]) {
            task.to_collect.push_back(i);
        }
    }
    launch_members(task);
    commit_members(task);  // nothing to collect: done at once
}

// Keeps up to `parallel` members in flight, never more ahead of the first
// member not yet committed. One at a time, a few members are queued ahead as
// one sequence of the transfer loop, which sends each page as soon as the
// one before it is back.
void CollectionEngine::launch_members(Task& task) {
    constexpr std::size_t kQueuedAhead = 8;
    const std::size_t ahead =
        task.parallel == 1 ? kQueuedAhead : static_cast<std::size_t>(task.parallel);
    while (!stopped(task) && task.launched < task.to_collect.size() &&
           task.launched - task.committed < ahead) {
        const std::size_t slot = task.launched++;
        Member& member = task.in_flight.emplace_back();
        member.index = task.to_collect[slot];
        launch_member(task, slot, member);
    }
}

// Asks for the member's pages. Several at a time, they all go at once. One
// at a time, they join the task's sequence in the site's order, each after
// the one before it; when a page fails, the pages after it are not asked
// for and the next member's first page goes.
void CollectionEngine::launch_member(Task& task, std::size_t slot, Member& member) {
    const Site& site = *task.site;
    const Text& account = task.members[static_cast<std::size_t>(member.index)];
    if (!site.requestable(account)) {
        member.failure = page_label(site, 0) + " of " + gbk_to_utf8(account) +
                         ": the account holds a character that cannot be requested";
        return;
    }
    const std::size_t count = site.member_pages().size();
    member.pages.resize(count);
    member.pages_waited = static_cast<int>(count);
    std::vector<TransferLoop::Request> requests;
    for (std::size_t page = 0; page < count; ++page) {
        TransferLoop::Request request =
            page_request(task, site.member_page_address(task.hosts, page, account),
                         [this, &task, slot, page](Bytes body, FetchInfo info) {
                             page_done(task, slot, page, body, info);
                         });
        request.blocked = block_judge(task.site, task.keyword, false);
        request.sequence = task.parallel == 1 ? &task : nullptr;
        request.needs_previous = page > 0;
        requests.push_back(std::move(request));
    }
    for (TransferLoop::Request& request : requests) {
        TransferLoop::shared().submit(std::move(request));
    }
}

void CollectionEngine::page_done(Task& task, std::size_t slot, std::size_t page, const Bytes& body,
                                 const FetchInfo& info) {
    Member& member = task.in_flight[slot - task.committed];
    --member.pages_waited;
    if (task.page_saver) {
        task.page_saver->save_member_page(
            gbk_to_utf8(task.members[static_cast<std::size_t>(member.index)]),
            task.site->member_pages()[page].name, body, info);
    }
    std::string failure;
    if (!page_or_failure(*task.site, task.keyword, body, info, &member.pages[page], &failure)) {
        // The earliest page's failure is the one to tell: the pages after
        // it failed with it, or would have been asked for in vain.
        if (member.failure.empty() || page < member.failed_page) {
            const Text& account = task.members[static_cast<std::size_t>(member.index)];
            member.failure =
                page_label(*task.site, page) + " of " + gbk_to_utf8(account) + ": " + failure;
            member.failed_page = page;
        }
    }
    commit_members(task);
}

// Commits the members whose pages are all back, in page order, and asks for
// more; ends the task when nothing is left in flight.
void CollectionEngine::commit_members(Task& task) {
    while (!stopped(task) && !task.in_flight.empty() && task.in_flight.front().ready()) {
        Member member = std::move(task.in_flight.front());
        task.in_flight.pop_front();
        ++task.committed;
        launch_members(task);
        commit_member(task, member);
    }
    if (task.transfers > 0) {
        return;
    }
    if (!stopped(task)) {
        task.outcome.completed = true;
        observer_.status_changed(
            task.number, kProgressPart,
            std::to_string(task.members.size()) + "位用户信息分析完成可以导出");
    }
    // Stopped: what a stopped transfer left is incomplete, and the members
    // in flight are dropped.
    finish(task);
}

void CollectionEngine::commit_member(Task& task, Member& member) {
    const int i = member.index + 1;
    const int n = static_cast<int>(task.members.size());
    TaskOutcome& outcome = task.outcome;
    observer_.status_changed(
        task.number, kProgressPart,
        "正在分析用户" + std::to_string(i) + "/" + std::to_string(n) + "位的信息");
    if (!member.failure.empty()) {
        // Not stored, so a later run of the keyword collects it.
        if (outcome.failed_members++ == 0) {
            outcome.member_failure = member.failure;
        }
        observer_.member_failed(task.number, outcome.failed_members, member.failure);
        return;
    }
    const int row = task.rows++;
    ContactRecord record;
    const Text& account = task.members[static_cast<std::size_t>(member.index)];
    task.site->record(account, member.pages, [&](int field, const Text& value) {
        std::string& cell = record[static_cast<std::size_t>(field)];
        cell = gbk_to_utf8(value);
        observer_.record_cell(task.number, row, field, cell);
    });
    observer_.record_collected(task.number, row, record);
    ++outcome.handled;

    // Without its own table a task's rows are not written anywhere: a name
    // the database reads as another table's must not reach that table.
    if (outcome.table_ready) {
        std::vector<QueuedRow> settled;
        store_.queue_record(task.keyword, record, member.index, &settled);
        take_stored(task, settled);
    } else if (!stopped(task)) {
        ++outcome.failed_inserts;
        observer_.storage_failed(task.number, task.table_error);
    }
    observer_.member_done(task.number, outcome.stored_before + outcome.handled);
}

void CollectionEngine::take_stored(Task& task, const std::vector<QueuedRow>& settled) {
    for (const QueuedRow& row : settled) {
        if (row.stored) {
            ++task.outcome.stored;
        } else if (!stopped(task)) {
            ++task.outcome.failed_inserts;
            observer_.storage_failed(task.number, row.error);
            if (row.claim_lost) {
                give_up_keyword(task, row.error);
            }
        }
        // A wait for a busy database cut short by the stop: the row is not
        // stored, like any member the stop caught, and a later run collects it.
    }
}

// Another collector has taken the keyword since this task claimed it, and
// may have collected it meanwhile: nothing more of it is stored, so nothing
// more is asked for. The task fails with the store's reason.
void CollectionEngine::give_up_keyword(Task& task, const std::string& reason) {
    task.claim_lost = true;
    task.outcome.failure = reason;
    task.outcome.failure_chinese = "关键字已由其他采集器接手，本任务不再保存（" + reason + "）";
    observer_.status_changed(task.number, kStatePart, "失败：" + task.outcome.failure_chinese);
    task.stop_requested = true;
    TransferLoop::shared().wake();
}

}  // namespace qinglan
