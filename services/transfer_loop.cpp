#include "services/transfer_loop.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "services/curl_transfer.h"
#include "services/text.h"
#include "services/transfer_schedule.h"

namespace qinglan {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often requests that wait (for their turn or their next try) are
// looked at for a stop, and the longest the loop sleeps while any exists.
constexpr auto kCancelScan = 100ms;
constexpr auto kIdleSleep = 1000ms;

// The host a limit counts against: its name, lower-cased, and its port.
std::string host_key(const std::string& url) {
    const auto scheme_end = url.find("://");
    const std::string scheme = scheme_end == std::string::npos ? "" : url.substr(0, scheme_end);
    const auto start = scheme_end == std::string::npos ? 0 : scheme_end + 3;
    std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    if (const auto at = authority.rfind('@'); at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    authority = lower_ascii(authority);
    if (authority.find(':') == std::string::npos || authority.back() == ']') {
        authority += scheme == "https" ? ":443" : ":80";
    }
    return authority;
}

TransferSchedule::Limits limits_of(const FetchSettings& settings) {
    TransferSchedule::Limits limits;
    limits.connections = settings.connections;
    limits.per_host = settings.per_host;
    limits.delay_ms = settings.delay_ms;
    limits.max_page_bytes = settings.max_page_bytes;
    limits.page_budget_bytes = settings.page_budget_bytes;
    return limits;
}

}  // namespace

struct TransferLoop::Job {
    Request request;
    int tries = 0;
    // Where the running try is, when the loop follows its redirects itself
    // (curl::redirect_target), how many it followed, and when the try
    // started: its page deadline counts from there.
    std::string address;
    int redirects = 0;
    Clock::time_point try_start{};
    std::unique_ptr<curl::Transfer> transfer;
    CURL* easy = nullptr;

    bool cancelled() const {
        return std::any_of(request.cancel.begin(), request.cancel.end(),
                           [](const std::atomic<bool>* flag) { return flag != nullptr && *flag; });
    }
};

struct TransferLoop::State {
    using Id = TransferSchedule::Id;

    void take(std::unique_ptr<Job> job, Clock::time_point now);
    void start_due(Clock::time_point now);
    void start(Id id, Clock::time_point now);
    void launch(Id id, Clock::time_point now);
    void finish(CURL* easy, CURLcode code, Clock::time_point now);
    void complete(Id id, Bytes body, FetchInfo info, Clock::time_point now);
    bool judge_page(Id id, const Bytes& body, const FetchInfo& info, Clock::time_point now,
                    Clock::duration* wait);
    void end_dropped();
    Clock::duration sleep_time(Clock::time_point now) const;
    static std::unique_ptr<Job> job_of(Request request);

    std::atomic<int> running_count{0};
    std::atomic<int> most_running{0};
    CURLM* multi = nullptr;
    FetchSettings settings;
    TransferSchedule schedule;
    Id next_id = 0;
    std::unordered_map<Id, std::unique_ptr<Job>> jobs;  // every request not yet answered
    std::unordered_map<CURL*, Id> running;
    Clock::time_point last_scan{};
};

TransferLoop& TransferLoop::shared() {
    // Never destroyed: a transfer still running while the process ends must
    // not find its loop gone.
    static TransferLoop* loop = new TransferLoop();
    return *loop;
}

TransferLoop::TransferLoop() : state_(std::make_unique<State>()) {
    curl::client();  // libcurl's global set-up, before the multi handle
    state_->multi = curl_multi_init();
    state_->settings = fetch_settings();
    thread_ = std::thread([this] { run(); });
    thread_.detach();
}

std::unique_ptr<TransferLoop::Job> TransferLoop::State::job_of(Request request) {
    auto job = std::make_unique<Job>();
    // The fragment belongs to the client alone and is never sent.
    request.url.erase(std::min(request.url.find('#'), request.url.size()));
    job->request = std::move(request);
    return job;
}

void TransferLoop::submit(Request request) {
    auto job = State::job_of(std::move(request));
    {
        std::lock_guard lock(mutex_);
        incoming_.push_back(std::move(job));
    }
    wake();
}

void TransferLoop::wake() {
    if (state_->multi != nullptr) {
        curl_multi_wakeup(state_->multi);
    }
}

int TransferLoop::running() const {
    return state_->running_count.load();
}

int TransferLoop::most_running() const {
    return state_->most_running.load();
}

void TransferLoop::run() {
    State& state = *state_;
    for (;;) {
        std::vector<std::unique_ptr<Job>> arrived;
        {
            std::lock_guard lock(mutex_);
            arrived.swap(incoming_);
        }
        auto now = Clock::now();
        state.settings = fetch_settings();
        state.schedule.set_limits(limits_of(state.settings));
        for (auto& job : arrived) {
            state.take(std::move(job), now);
        }
        if (now - state.last_scan >= kCancelScan) {
            state.schedule.drop_cancelled(now);
            state.end_dropped();
            state.last_scan = now;
        }
        state.start_due(now);
        int still_running = 0;
        curl_multi_perform(state.multi, &still_running);
        int left = 0;
        bool finished = false;
        while (CURLMsg* message = curl_multi_info_read(state.multi, &left)) {
            if (message->msg == CURLMSG_DONE) {
                state.finish(message->easy_handle, message->data.result, Clock::now());
                finished = true;
            }
        }
        if (finished) {
            continue;  // room for waiting requests: start them before sleeping
        }
        const auto sleep =
            std::chrono::duration_cast<std::chrono::milliseconds>(state.sleep_time(Clock::now()));
        curl_multi_poll(state.multi, nullptr, 0,
                        static_cast<int>(std::max<long long>(sleep.count(), 0)), nullptr);
    }
}

void TransferLoop::State::take(std::unique_ptr<Job> job, Clock::time_point now) {
    const Id id = next_id++;
    TransferSchedule::Entry entry;
    // A request without an address ends at once, unsent.
    entry.host = job->request.url.empty() ? std::string() : host_key(job->request.url);
    entry.sequence = job->request.sequence;
    entry.needs_previous = job->request.needs_previous;
    entry.cancel = job->request.cancel;
    jobs.emplace(id, std::move(job));
    schedule.add(id, std::move(entry), now);
    end_dropped();
}

void TransferLoop::State::start_due(Clock::time_point now) {
    const std::vector<Id> due = schedule.start(now);
    // Retries cancelled while they waited hear so before anything starts.
    end_dropped();
    for (const Id id : due) {
        start(id, now);
    }
}

// Answers the requests the schedule ended without sending them.
void TransferLoop::State::end_dropped() {
    for (const TransferSchedule::Dropped& dropped : schedule.take_dropped()) {
        const auto found = jobs.find(dropped.id);
        if (found == jobs.end()) {
            continue;
        }
        std::unique_ptr<Job> job = std::move(found->second);
        jobs.erase(found);
        FetchInfo info;
        info.attempts = job->tries;
        info.error = FetchError::kStopped;
        if (dropped.why == TransferSchedule::Unsent::kNoAddress) {
            info.error = FetchError::kBadAddress;
        } else if (dropped.why == TransferSchedule::Unsent::kPreviousFailed) {
            info.detail = "not asked for: the page before it failed";
        }
        if (job->request.done) {
            job->request.done({}, std::move(info));
        }
    }
}

// Answers the request; the next one of its sequence may go.
void TransferLoop::State::complete(Id id, Bytes body, FetchInfo info, Clock::time_point now) {
    const auto found = jobs.find(id);
    std::unique_ptr<Job> job = std::move(found->second);
    jobs.erase(found);
    info.attempts = job->tries;
    const bool page = !fetch_failed(info) && !info.blocked;
    if (job->request.done) {
        job->request.done(std::move(body), std::move(info));
    }
    schedule.end(id, page, now);
    end_dropped();
}

void TransferLoop::State::start(Id id, Clock::time_point now) {
    Job& job = *jobs.at(id);
    ++job.tries;
    if (job.tries == 1 && job.request.started) {
        job.request.started();
    }
    job.address = job.request.url;
    job.redirects = 0;
    job.try_start = now;
    launch(id, now);
}

// Starts the transfer of the job's address, the first of a try or one
// that follows a redirect.
void TransferLoop::State::launch(Id id, Clock::time_point now) {
    Job& job = *jobs.at(id);
    job.transfer = std::make_unique<curl::Transfer>();
    job.transfer->limits = settings;
    job.transfer->cancel = job.request.cancel;
    job.transfer->start = job.try_start;
    job.transfer->last_arrival = now;
    const curl::Client* client = curl::client();
    job.easy = client != nullptr ? curl_easy_init() : nullptr;
    if (job.easy == nullptr) {
        schedule.release(id, now);
        FetchInfo info;
        info.error = FetchError::kOther;
        info.detail = "the HTTP library could not be set up";
        complete(id, {}, std::move(info), now);
        return;
    }
    curl::configure(job.easy, *client, job.address, *job.transfer);
    curl_multi_add_handle(multi, job.easy);
    running.emplace(job.easy, id);
    const int now_running = ++running_count;
    int most = most_running.load();
    while (now_running > most && !most_running.compare_exchange_weak(most, now_running)) {
    }
}

void TransferLoop::State::finish(CURL* easy, CURLcode code, Clock::time_point now) {
    const auto found = running.find(easy);
    if (found == running.end()) {
        return;
    }
    const Id id = found->second;
    running.erase(found);
    --running_count;
    Job& job = *jobs.at(id);
    FetchInfo info;
    curl::conclude(easy, code, *job.transfer, &info);
    std::string next = curl::redirect_target(easy, *job.transfer, job.redirects, &info);
    Bytes body = std::move(job.transfer->body);
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    job.easy = nullptr;
    job.transfer.reset();
    if (info.error == FetchError::kRedirects || (!next.empty() && job.cancelled())) {
        // As when libcurl gives up on a redirect: the answer was only a way
        // to the page, and no page came.
        body.clear();
        info.error = next.empty() ? info.error : FetchError::kStopped;
    } else if (!next.empty()) {
        // The same try goes on, in its place among the running ones.
        job.address = std::move(next);
        ++job.redirects;
        launch(id, now);
        return;
    }
    Clock::duration wait{};
    info.blocked = judge_page(id, body, info, now, &wait);
    if (job.request.retry && job.tries <= settings.retries && !job.cancelled() &&
        (info.blocked || curl::worth_another_try(info))) {
        if (!info.blocked) {
            wait = curl::retry_delay(job.tries, info, settings);
        }
        if (job.request.retrying) {
            job.request.retrying(job.tries + 1);
        }
        schedule.retry_at(id, now + wait, now);
        return;
    }
    // The body is out of the loop's hands: its host and the page budget
    // have room again.
    schedule.release(id, now);
    complete(id, std::move(body), std::move(info), now);
}

// Whether the answer is a block page, as its request judges it, and then
// how long its next try waits, as after a 429 answer. The schedule hears
// of every page, so that it knows each host's block pages in a row: the
// hold after a run of them ends when this one's next try is due.
bool TransferLoop::State::judge_page(Id id, const Bytes& body, const FetchInfo& info,
                                     Clock::time_point now, Clock::duration* wait) {
    const Job& job = *jobs.at(id);
    if (fetch_failed(info)) {
        return false;
    }
    const bool blocked = job.request.blocked && job.request.blocked(body, info);
    if (blocked) {
        *wait = curl::retry_delay(job.tries, info, settings);
    }
    schedule.answered(id, blocked, now + *wait, now);
    return blocked;
}

Clock::duration TransferLoop::State::sleep_time(Clock::time_point now) const {
    Clock::duration sleep = schedule.idle() ? Clock::duration(kIdleSleep) : kCancelScan;
    long curl_ms = -1;
    curl_multi_timeout(multi, &curl_ms);
    if (curl_ms >= 0) {
        sleep = std::min<Clock::duration>(sleep, std::chrono::milliseconds(curl_ms));
    }
    if (const auto due = schedule.next_due()) {
        sleep = std::min<Clock::duration>(sleep, *due - now);
    }
    return std::max<Clock::duration>(sleep, Clock::duration::zero());
}

}  // namespace qinglan
