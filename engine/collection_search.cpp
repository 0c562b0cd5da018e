// The steps of a collection task that read its result pages: the first one
// makes the member list, and each later one adds the accounts it lists that
// no earlier page listed, until a page adds none or the site's last page is
// read. The list is saved after every page, so a stop or a crash resumes
// from the page after it.

#include <algorithm>
#include <utility>

#include "engine/collection_engine.h"
#include "engine/collection_task.h"
#include "engine/page_answer.h"
#include "engine/page_text.h"
#include "services/charset.h"
#include "services/fetch.h"

namespace qinglan {

void CollectionEngine::begin(Task& task) {
    if (task.resumed.listed) {
        // The member list of an earlier run stands: no search page is asked
        // for but those not read yet.
        task.members = task.resumed.members;
        task.next_page = task.resumed.next_page;
        task.outcome.members = static_cast<int>(task.members.size());
        task.outcome.stored_before = task.resumed.stored_count();
        observer_.status_changed(task.number, kStatePart, "状态：加载完成");
        read_on(task);
        return;
    }
    observer_.task_waiting(task.number, true);
    observer_.status_changed(task.number, kStatePart, "状态：加载数据，请稍等。。。。");
    request_result_page(task, 1);
}

void CollectionEngine::request_result_page(Task& task, int page) {
    Text url;
    std::string refusal;  // the keyword was accepted when it was submitted
    task.site->search_address(task.hosts, task.keyword, page, &url, &refusal);
    TransferLoop::Request request =
        page_request(task, url, [this, &task, page](Bytes body, FetchInfo info) {
            if (task.page_saver) {
                task.page_saver->save_search_page(task.keyword, page, body, info);
            }
            if (page == 1) {
                search_done(task, body, info);
            } else {
                later_page_done(task, page, body, info);
            }
        });
    request.blocked = block_judge(task.site, task.keyword, true);
    TransferLoop::shared().submit(std::move(request));
}

// Lists the search page's members and saves the list; fails the task when
// the page or the saving fails.
void CollectionEngine::search_done(Task& task, const Bytes& body, const FetchInfo& info) {
    TaskOutcome& outcome = task.outcome;
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
    if (info.blocked) {
        // Still a block page after every try: no answer, so nothing is saved
        // and the keyword stays to be searched again.
        fail_task(task, "search page: " + blocked_reason(page),
                  "搜索页被拦截（" + gbk_to_utf8(page_title(page)) + "）");
        return;
    }
    task.members = task.site->accounts(page);
    outcome.members = static_cast<int>(task.members.size());
    task.next_page = !task.members.empty() && task.site->pages() > 1 ? 2 : 0;
    if (task.members.empty() && !empty_first_page(task, page, body.size())) {
        return;
    }
    std::string error;
    if (outcome.table_ready && !store_.save_members_from(task.keyword, 0, task.members,
                                                         task.next_page, task.again, &error)) {
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
    read_on(task);
}

// Notes what a first result page without accounts was; false, the task
// failed, when the keyword is started over: such a page (a login or
// verification page, most likely) is no new member list, so the stored rows
// and their state stay as they were.
bool CollectionEngine::empty_first_page(Task& task, const Text& page, std::size_t bytes) {
    TaskOutcome& outcome = task.outcome;
    const std::string title = gbk_to_utf8(page_title(page));
    const std::string size = std::to_string((bytes + 512) / 1024) + " KB";
    outcome.empty_page = "title \"" + title + "\", " + size;
    outcome.empty_page_chinese = "标题“" + title + "”，" + size;
    if (!task.again) {
        return true;
    }
    fail_task(task,
              "the search page lists no member account (" + outcome.empty_page +
                  "); the stored rows are kept",
              "搜索页中没有会员账号（" + outcome.empty_page_chinese + "），已保存的数据保持不变");
    return false;
}

// Ends the task as failed with the reason, in English and in Chinese.
void CollectionEngine::fail_task(Task& task, std::string failure, std::string failure_chinese) {
    task.outcome.failure = std::move(failure);
    task.outcome.failure_chinese = std::move(failure_chinese);
    observer_.status_changed(task.number, kStatePart, "失败：" + task.outcome.failure_chinese);
    finish(task);
}

// With the member list so far: asks for the next result page, if one is to
// be read, and starts the members. One at a time, the members wait until
// every result page is read; several at a time, they are collected while
// the next page is on its way.
void CollectionEngine::read_on(Task& task) {
    if (task.next_page > 0) {
        task.listed.insert(task.members.begin(), task.members.end());
        request_result_page(task, task.next_page);
        if (task.parallel == 1) {
            return;
        }
    }
    start_members(task);
}

// Adds the accounts of result page `page` that no earlier page listed, saves
// them, and asks for the next page. A page that cannot be had, after every
// try, ends the reading there: the members listed are collected, and the
// keyword stays incomplete, to read that page when it is resumed.
void CollectionEngine::later_page_done(Task& task, int page, const Bytes& body,
                                       const FetchInfo& info) {
    if (stopped(task)) {
        end_reading(task);
        return;
    }
    const std::string number = std::to_string(page);
    if (fetch_failed(info)) {
        fail_reading(task, "search page " + number + ": " + fetch_failure_text(info),
                     "搜索页第" + number + "页" + chinese_reason(info));
        return;
    }
    const Text text = task.site->page_text(body, info.content_type);
    if (info.blocked) {
        fail_reading(task, "search page " + number + ": " + blocked_reason(text),
                     "搜索页第" + number + "页被拦截（" + gbk_to_utf8(page_title(text)) + "）");
        return;
    }
    TextList added = task.site->accounts(text);
    // Repeated within this page, a new account is listed again, as on the
    // first page; one an earlier page listed is not.
    added.erase(std::remove_if(added.begin(), added.end(),
                               [&](const Text& account) { return task.listed.count(account); }),
                added.end());
    const int next = !added.empty() && page < task.site->pages() ? page + 1 : 0;
    std::string error;
    if (task.outcome.table_ready &&
        !store_.save_members_from(task.keyword, static_cast<int>(task.members.size()), added, next,
                                  false, &error)) {
        observer_.storage_failed(task.number, error);
        fail_reading(task, error, "无法保存会员列表（" + error + "）");
        return;
    }
    add_members(task, std::move(added));
    task.next_page = next;
    if (next > 0) {
        request_result_page(task, next);
        launch_members(task);
        return;
    }
    end_reading(task);
}

// The reading ends early, the task's outcome saying why; what is listed is
// still collected.
void CollectionEngine::fail_reading(Task& task, std::string failure, std::string failure_chinese) {
    task.outcome.failure = std::move(failure);
    task.outcome.failure_chinese = std::move(failure_chinese);
    observer_.status_changed(task.number, kStatePart, "失败：" + task.outcome.failure_chinese);
    end_reading(task);
}

void CollectionEngine::add_members(Task& task, TextList accounts) {
    if (accounts.empty()) {
        return;
    }
    for (Text& account : accounts) {
        task.listed.insert(account);
        if (task.members_started) {
            task.to_collect.push_back(static_cast<int>(task.members.size()));
        }
        task.members.push_back(std::move(account));
    }
    task.outcome.members = static_cast<int>(task.members.size());
    if (task.members_started) {
        observer_.task_row_added(task.number, task.keyword, task.outcome.members);
    }
}

void CollectionEngine::end_reading(Task& task) {
    if (!task.members_started) {
        start_members(task);
        return;
    }
    launch_members(task);
    commit_members(task);  // nothing left in flight: done
}

}  // namespace qinglan
