// The steps of a collection task that collect its members (the result
// pages are read in collection_search.cpp), each step run on the task's
// strand when the page it waited for is back.

#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

#include "engine/collection_engine.h"
#include "engine/collection_task.h"
#include "engine/page_answer.h"
#include "engine/page_text.h"
#include "services/charset.h"
#include "services/fetch.h"

namespace qinglan {
namespace {

// The member page's text as the site reads it, or false with why it failed.
bool page_or_failure(const Site& site, const Bytes& body, const FetchInfo& info, Text* text,
                     std::string* failure) {
    if (fetch_failed(info)) {
        *failure = fetch_failure_text(info);
        return false;
    }
    *text = site.page_text(body, info.content_type);
    if (info.blocked) {
        *failure = blocked_reason(*text);
        text->clear();
        return false;
    }
    return true;
}

// How a member's failure names its page `page`.
std::string page_label(const Site& site, std::size_t page) {
    const std::vector<MemberPage>& pages = site.member_pages();
    return page < pages.size() ? pages[page].label : std::string("page");
}

}  // namespace

void CollectionEngine::start_members(Task& task) {
    task.members_started = true;
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
    if (!page_or_failure(*task.site, body, info, &member.pages[page], &failure)) {
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
    // A result page that failed leaves the keyword incomplete.
    if (!stopped(task) && task.outcome.failure.empty()) {
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
