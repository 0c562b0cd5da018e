#include "services/transfer_loop.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <unordered_map>

#include "services/curl_transfer.h"
#include "services/page_budget.h"

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
    std::transform(authority.begin(), authority.end(), authority.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (authority.find(':') == std::string::npos || authority.back() == ']') {
        authority += scheme == "https" ? ":443" : ":80";
    }
    return authority;
}

// A pause of `delay_ms`, spread by ±50%.
Clock::duration jittered(long delay_ms) {
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_real_distribution<double> spread(0.5, 1.5);
    return std::chrono::microseconds(
        static_cast<long long>(static_cast<double>(delay_ms) * 1000.0 * spread(random)));
}

}  // namespace

struct TransferLoop::Job {
    Request request;
    std::string host;
    std::uint64_t order = 0;  // place in the queue
    int tries = 0;
    bool has_turn = false;     // its sequence's turn is this job's
    std::size_t reserved = 0;  // of the page budget, while it runs
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

struct TransferLoop::Host {
    std::deque<std::unique_ptr<Job>> waiting;
    int running = 0;
    Clock::time_point next_start{};
    std::uint64_t ready_order = 0;  // its entry in State::ready, when `ready`
    bool ready = false;
};

// The requests of one sequence that wait for their turn.
struct TransferLoop::Sequence {
    std::deque<std::unique_ptr<Job>> waiting;
};

struct TransferLoop::State {
    void take(std::unique_ptr<Job> job, Clock::time_point now);
    void refresh(const std::string& name, Clock::time_point now);
    void admit(Clock::time_point now);
    void start(std::unique_ptr<Job> job, Clock::time_point now);
    void launch(std::unique_ptr<Job> job, Clock::time_point now);
    void end_run(Job& job, Clock::time_point now);
    void finish(CURL* easy, CURLcode code, Clock::time_point now);
    void stop_cancelled(Clock::time_point now);
    void wake_due(Clock::time_point now);
    Clock::duration sleep_time(Clock::time_point now) const;
    void complete(std::unique_ptr<Job> job, Bytes body, FetchInfo info);
    void pass_turn(const void* key);
    bool ended_unsent(std::unique_ptr<Job>& job);
    static std::unique_ptr<Job> job_of(Request request);

    std::atomic<int> running_count{0};
    std::atomic<int> most_running{0};
    CURLM* multi = nullptr;
    FetchSettings settings;
    std::uint64_t next_order = 0;
    std::unordered_map<std::string, Host> hosts;
    // Hosts whose first waiting request may start, by that request's order.
    std::set<std::pair<std::uint64_t, std::string>> ready;
    std::multimap<Clock::time_point, std::string> paused_hosts;  // by when their delay ends
    std::multimap<Clock::time_point, std::unique_ptr<Job>> retries;
    std::unordered_map<CURL*, std::unique_ptr<Job>> running;
    PageBudget page_budget;
    std::unordered_map<const void*, Sequence> sequences;  // those with a request in turn
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
    job->host = host_key(request.url);
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
        for (auto& job : arrived) {
            state.take(std::move(job), now);
        }
        state.wake_due(now);
        if (now - state.last_scan >= kCancelScan) {
            state.stop_cancelled(now);
            state.last_scan = now;
        }
        state.admit(now);
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
            continue;  // room for waiting requests: admit them before sleeping
        }
        const auto sleep =
            std::chrono::duration_cast<std::chrono::milliseconds>(state.sleep_time(Clock::now()));
        curl_multi_poll(state.multi, nullptr, 0,
                        static_cast<int>(std::max<long long>(sleep.count(), 0)), nullptr);
    }
}

void TransferLoop::State::complete(std::unique_ptr<Job> job, Bytes body, FetchInfo info) {
    info.attempts = job->tries;
    std::unique_ptr<Request> follow_up = std::move(job->request.follow_up);
    const bool sent_on = !fetch_failed(info);
    if (job->request.done) {
        job->request.done(std::move(body), std::move(info));
    }
    if (follow_up == nullptr) {
        if (job->has_turn) {
            pass_turn(job->request.sequence);
        }
        return;
    }
    std::unique_ptr<Job> next = job_of(std::move(*follow_up));
    // The follow-up keeps its request's turn, whether it runs or not.
    next->request.sequence = job->request.sequence;
    next->has_turn = job->has_turn;
    if (sent_on) {
        take(std::move(next), Clock::now());
    } else {
        FetchInfo stopped;
        stopped.error = FetchError::kStopped;
        stopped.detail = "not asked for: the page before it failed";
        complete(std::move(next), {}, std::move(stopped));
    }
}

// The request in turn of the sequence ended: the next one that may still
// run gets the turn. Those stopped meanwhile end here, without a turn.
void TransferLoop::State::pass_turn(const void* key) {
    const auto found = sequences.find(key);
    if (found == sequences.end()) {
        return;
    }
    std::deque<std::unique_ptr<Job>>& waiting = found->second.waiting;
    while (!waiting.empty()) {
        std::unique_ptr<Job> job = std::move(waiting.front());
        waiting.pop_front();
        if (ended_unsent(job)) {
            continue;
        }
        job->has_turn = true;
        take(std::move(job), Clock::now());
        return;
    }
    sequences.erase(found);
}

// Ends a request that cannot go out, having no address or being stopped.
bool TransferLoop::State::ended_unsent(std::unique_ptr<Job>& job) {
    if (!job->request.url.empty() && !job->cancelled()) {
        return false;
    }
    FetchInfo info;
    info.error = job->request.url.empty() ? FetchError::kBadAddress : FetchError::kStopped;
    complete(std::move(job), {}, std::move(info));
    return true;
}

void TransferLoop::State::take(std::unique_ptr<Job> job, Clock::time_point now) {
    if (ended_unsent(job)) {
        return;
    }
    if (const void* key = job->request.sequence; key != nullptr && !job->has_turn) {
        const auto [found, first] = sequences.try_emplace(key);
        if (!first) {
            found->second.waiting.push_back(std::move(job));
            return;
        }
        job->has_turn = true;
    }
    job->order = next_order++;
    const std::string name = job->host;
    hosts[name].waiting.push_back(std::move(job));
    refresh(name, now);
}

// Puts the host among the ready ones when its first waiting request may
// start, or remembers when its delay ends; forgets a host with nothing left.
void TransferLoop::State::refresh(const std::string& name, Clock::time_point now) {
    const auto found = hosts.find(name);
    if (found == hosts.end()) {
        return;
    }
    Host& host = found->second;
    if (host.ready) {
        ready.erase({host.ready_order, name});
        host.ready = false;
    }
    if (host.waiting.empty()) {
        if (host.running == 0 && host.next_start <= now) {
            hosts.erase(found);
        }
        return;
    }
    if (host.running >= std::max(settings.per_host, 1)) {
        return;  // a finishing transfer refreshes it
    }
    if (host.next_start > now) {
        paused_hosts.emplace(host.next_start, name);
        return;
    }
    host.ready_order = host.waiting.front()->order;
    host.ready = true;
    ready.emplace(host.ready_order, name);
}

void TransferLoop::State::admit(Clock::time_point now) {
    while (!ready.empty() && static_cast<int>(running.size()) < std::max(settings.connections, 1) &&
           page_budget.has_room(settings.max_page_bytes, settings.page_budget_bytes)) {
        const std::string name = ready.begin()->second;
        Host& host = hosts[name];
        std::unique_ptr<Job> job = std::move(host.waiting.front());
        host.waiting.pop_front();
        ++host.running;
        if (settings.delay_ms > 0) {
            host.next_start = now + jittered(settings.delay_ms);
        }
        refresh(name, now);
        start(std::move(job), now);
    }
}

void TransferLoop::State::start(std::unique_ptr<Job> job, Clock::time_point now) {
    ++job->tries;
    if (job->tries == 1 && job->request.started) {
        job->request.started();
    }
    job->reserved = page_budget.reserve(settings.max_page_bytes);
    job->address = job->request.url;
    job->redirects = 0;
    job->try_start = now;
    launch(std::move(job), now);
}

// Starts the transfer of the job's address, the first of a try or one
// that follows a redirect.
void TransferLoop::State::launch(std::unique_ptr<Job> job, Clock::time_point now) {
    job->transfer = std::make_unique<curl::Transfer>();
    job->transfer->limits = settings;
    job->transfer->cancel = job->request.cancel;
    job->transfer->start = job->try_start;
    job->transfer->last_arrival = now;
    const curl::Client* client = curl::client();
    job->easy = client != nullptr ? curl_easy_init() : nullptr;
    if (job->easy == nullptr) {
        end_run(*job, now);
        FetchInfo info;
        info.error = FetchError::kOther;
        info.detail = "the HTTP library could not be set up";
        complete(std::move(job), {}, std::move(info));
        return;
    }
    curl::configure(job->easy, *client, job->address, *job->transfer);
    curl_multi_add_handle(multi, job->easy);
    CURL* easy = job->easy;
    running.emplace(easy, std::move(job));
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
    std::unique_ptr<Job> job = std::move(found->second);
    running.erase(found);
    --running_count;
    FetchInfo info;
    curl::conclude(easy, code, *job->transfer, &info);
    std::string next = curl::redirect_target(easy, *job->transfer, job->redirects, &info);
    Bytes body = std::move(job->transfer->body);
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    job->easy = nullptr;
    job->transfer.reset();
    if (info.error == FetchError::kRedirects || (!next.empty() && job->cancelled())) {
        // As when libcurl gives up on a redirect: the answer was only a way
        // to the page, and no page came.
        body.clear();
        info.error = next.empty() ? info.error : FetchError::kStopped;
    } else if (!next.empty()) {
        // The same try goes on, in its place among the running ones.
        job->address = std::move(next);
        ++job->redirects;
        launch(std::move(job), now);
        return;
    }
    end_run(*job, now);

    if (job->request.retry && job->tries <= settings.retries && !job->cancelled() &&
        curl::worth_another_try(info)) {
        const auto when = now + curl::retry_delay(job->tries, info, settings);
        retries.emplace(when, std::move(job));
        return;
    }
    complete(std::move(job), std::move(body), std::move(info));
}

// The job's transfer is over and its body out of the loop's hands: its host
// and the page budget have room again.
void TransferLoop::State::end_run(Job& job, Clock::time_point now) {
    page_budget.release(job.reserved);
    job.reserved = 0;
    --hosts[job.host].running;
    refresh(job.host, now);
}

void TransferLoop::State::wake_due(Clock::time_point now) {
    while (!retries.empty() && retries.begin()->first <= now) {
        std::unique_ptr<Job> job = std::move(retries.begin()->second);
        retries.erase(retries.begin());
        take(std::move(job), now);
    }
    while (!paused_hosts.empty() && paused_hosts.begin()->first <= now) {
        const std::string name = paused_hosts.begin()->second;
        paused_hosts.erase(paused_hosts.begin());
        refresh(name, now);
    }
}

// Requests that wait are not seen by libcurl's progress callback: a stop
// reaches them here. Running ones stop through that callback.
void TransferLoop::State::stop_cancelled(Clock::time_point now) {
    // Collected first and ended after: ending one may pass a sequence's turn
    // and queue the next request while these containers are walked.
    std::vector<std::unique_ptr<Job>> ended;
    for (auto it = retries.begin(); it != retries.end();) {
        if (it->second->cancelled()) {
            ended.push_back(std::move(it->second));
            it = retries.erase(it);
        } else {
            ++it;
        }
    }
    auto take_cancelled = [&ended](std::deque<std::unique_ptr<Job>>& waiting) {
        const auto before = waiting.size();
        for (auto it = waiting.begin(); it != waiting.end();) {
            if ((*it)->cancelled()) {
                ended.push_back(std::move(*it));
                it = waiting.erase(it);
            } else {
                ++it;
            }
        }
        return waiting.size() != before;
    };
    for (auto& [key, sequence] : sequences) {
        take_cancelled(sequence.waiting);
    }
    std::vector<std::string> touched;
    for (auto& [name, host] : hosts) {
        if (take_cancelled(host.waiting)) {
            touched.push_back(name);
        }
    }
    for (const std::string& name : touched) {
        refresh(name, now);
    }
    for (auto& job : ended) {
        FetchInfo info;
        info.error = FetchError::kStopped;
        complete(std::move(job), {}, std::move(info));
    }
}

Clock::duration TransferLoop::State::sleep_time(Clock::time_point now) const {
    Clock::duration sleep = kIdleSleep;
    if (!running.empty() || !retries.empty() || !hosts.empty() || !sequences.empty()) {
        sleep = kCancelScan;
    }
    long curl_ms = -1;
    curl_multi_timeout(multi, &curl_ms);
    if (curl_ms >= 0) {
        sleep = std::min<Clock::duration>(sleep, std::chrono::milliseconds(curl_ms));
    }
    if (!retries.empty()) {
        sleep = std::min<Clock::duration>(sleep, retries.begin()->first - now);
    }
    if (!paused_hosts.empty()) {
        sleep = std::min<Clock::duration>(sleep, paused_hosts.begin()->first - now);
    }
    return std::max<Clock::duration>(sleep, Clock::duration::zero());
}

}  // namespace qinglan
