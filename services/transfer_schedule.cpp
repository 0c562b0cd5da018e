#include "services/transfer_schedule.h"

#include <algorithm>
#include <random>
#include <utility>

namespace qinglan {

TransferSchedule::TransferSchedule(Jitter jitter) : jitter_(std::move(jitter)) {
    if (!jitter_) {
        jitter_ = [] {
            thread_local std::mt19937 random{std::random_device{}()};
            std::uniform_real_distribution<double> spread(0.5, 1.5);
            return spread(random);
        };
    }
}

bool TransferSchedule::cancelled(const Request& request) const {
    const CancelFlags& flags = request.entry.cancel;
    return std::any_of(flags.begin(), flags.end(),
                       [](const std::atomic<bool>* flag) { return flag != nullptr && *flag; });
}

void TransferSchedule::add(Id id, Entry entry, Clock::time_point now) {
    Request& request = requests_[id];
    request.entry = std::move(entry);
    const bool unsendable = request.entry.host.empty() || cancelled(request);
    const Unsent why = request.entry.host.empty() ? Unsent::kNoAddress : Unsent::kCancelled;
    const void* key = request.entry.sequence;
    if (key == nullptr) {
        if (unsendable) {
            drop(id, why, now);
        } else {
            queue(id, now);
        }
        return;
    }
    Sequence& sequence = sequences_[key];
    const bool after_unsent = std::exchange(sequence.last_came_unsent, false);
    if (unsendable || (request.entry.needs_previous && after_unsent)) {
        // Ended at once: the next one to come, if it needs this one, is not
        // sent either.
        sequence.last_came_unsent = true;
        drop(id, unsendable ? why : Unsent::kPreviousFailed, now);
        return;
    }
    if (sequence.in_turn) {
        sequence.waiting.push_back(id);
        return;
    }
    sequence.in_turn = true;
    request.has_turn = true;
    queue(id, now);
}

void TransferSchedule::queue(Id id, Clock::time_point now) {
    Request& request = requests_.at(id);
    request.order = next_order_++;
    const std::string name = request.entry.host;
    hosts_[name].waiting.push_back(id);
    refresh(name, now);
}

// Puts the host among the ready ones when its first waiting request may
// start, or remembers when its delay ends; forgets a host with nothing left.
void TransferSchedule::refresh(const std::string& name, Clock::time_point now) {
    const auto found = hosts_.find(name);
    if (found == hosts_.end()) {
        return;
    }
    Host& host = found->second;
    if (host.ready) {
        ready_.erase({host.ready_order, name});
        host.ready = false;
    }
    if (host.waiting.empty()) {
        if (host.running == 0 && host.next_start <= now) {
            hosts_.erase(found);
        }
        return;
    }
    if (host.running >= std::max(limits_.per_host, 1)) {
        return;  // an ending transfer refreshes it
    }
    if (host.next_start > now) {
        paused_hosts_.emplace(host.next_start, name);
        return;
    }
    host.ready_order = requests_.at(host.waiting.front()).order;
    host.ready = true;
    ready_.emplace(host.ready_order, name);
}

std::vector<TransferSchedule::Id> TransferSchedule::start(Clock::time_point now) {
    wake_due(now);
    std::vector<Id> started;
    while (!ready_.empty() && running_ < std::max(limits_.connections, 1) &&
           page_budget_.has_room(limits_.max_page_bytes, limits_.page_budget_bytes)) {
        const std::string name = ready_.begin()->second;
        Host& host = hosts_[name];
        const Id id = host.waiting.front();
        host.waiting.pop_front();
        ++host.running;
        if (limits_.delay_ms > 0) {
            host.next_start = now + jittered(limits_.delay_ms);
        }
        refresh(name, now);
        Request& request = requests_.at(id);
        request.running = true;
        request.reserved = page_budget_.reserve(limits_.max_page_bytes);
        ++running_;
        started.push_back(id);
    }
    return started;
}

void TransferSchedule::wake_due(Clock::time_point now) {
    while (!retries_.empty() && retries_.begin()->first <= now) {
        const Id id = retries_.begin()->second;
        retries_.erase(retries_.begin());
        if (cancelled(requests_.at(id))) {
            drop(id, Unsent::kCancelled, now);
        } else {
            queue(id, now);
        }
    }
    while (!paused_hosts_.empty() && paused_hosts_.begin()->first <= now) {
        const std::string name = paused_hosts_.begin()->second;
        paused_hosts_.erase(paused_hosts_.begin());
        refresh(name, now);
    }
}

std::optional<TransferSchedule::Clock::time_point> TransferSchedule::next_due() const {
    std::optional<Clock::time_point> due;
    if (!retries_.empty()) {
        due = retries_.begin()->first;
    }
    if (!paused_hosts_.empty()) {
        due = std::min(due.value_or(Clock::time_point::max()), paused_hosts_.begin()->first);
    }
    return due;
}

void TransferSchedule::release(Id id, Clock::time_point now) {
    Request& request = requests_.at(id);
    if (!request.running) {
        return;
    }
    page_budget_.release(request.reserved);
    request.reserved = 0;
    request.running = false;
    --running_;
    --hosts_[request.entry.host].running;
    refresh(request.entry.host, now);
}

void TransferSchedule::retry_at(Id id, Clock::time_point when, Clock::time_point now) {
    release(id, now);
    retries_.emplace(when, id);
}

void TransferSchedule::answered(Id id, bool blocked, Clock::time_point hold_until,
                                Clock::time_point now) {
    const std::string name = requests_.at(id).entry.host;
    if (!blocked) {
        blocks_in_row_.erase(name);
        return;
    }
    if (++blocks_in_row_[name] < kBlocksBeforeHold) {
        return;
    }
    Host& host = hosts_[name];
    host.next_start = std::max(host.next_start, hold_until);
    refresh(name, now);
}

void TransferSchedule::end(Id id, bool page, Clock::time_point now) {
    const auto found = requests_.find(id);
    if (found == requests_.end()) {
        return;
    }
    release(id, now);
    const void* key = found->second.entry.sequence;
    const bool had_turn = found->second.has_turn;
    requests_.erase(found);
    if (had_turn) {
        pass_turn(key, page, now);
    }
}

// The request in turn of the sequence ended: the next one that may still
// be sent gets the turn. Those cancelled meanwhile, and those that needed a
// page from the one before them and got none, end here unsent.
void TransferSchedule::pass_turn(const void* key, bool page, Clock::time_point now) {
    const auto found = sequences_.find(key);
    if (found == sequences_.end()) {
        return;
    }
    Sequence& sequence = found->second;
    sequence.in_turn = false;
    while (!sequence.waiting.empty()) {
        const Id id = sequence.waiting.front();
        sequence.waiting.pop_front();
        Request& request = requests_.at(id);
        if (cancelled(request) || (request.entry.needs_previous && !page)) {
            dropped_.push_back(
                {id, cancelled(request) ? Unsent::kCancelled : Unsent::kPreviousFailed});
            requests_.erase(id);
            page = false;
            continue;
        }
        sequence.in_turn = true;
        request.has_turn = true;
        queue(id, now);
        return;
    }
    if (!sequence.last_came_unsent) {
        sequences_.erase(found);
    }
}

// Ends a request that is not running, unsent.
void TransferSchedule::drop(Id id, Unsent why, Clock::time_point now) {
    dropped_.push_back({id, why});
    end(id, false, now);
}

// Requests that wait are not running, so nothing else sees their cancel
// flags: a cancel reaches them here.
void TransferSchedule::drop_cancelled(Clock::time_point now) {
    // Collected first and ended after: ending one may pass a sequence's turn
    // and queue the next request while these containers are walked.
    std::vector<Id> ended;
    for (auto it = retries_.begin(); it != retries_.end();) {
        if (cancelled(requests_.at(it->second))) {
            ended.push_back(it->second);
            it = retries_.erase(it);
        } else {
            ++it;
        }
    }
    auto take_cancelled = [this, &ended](std::deque<Id>& waiting) {
        const auto before = waiting.size();
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (cancelled(requests_.at(*it))) {
                ended.push_back(*it);
                it = waiting.erase(it);
            } else {
                ++it;
            }
        }
        return waiting.size() != before;
    };
    for (auto& [key, sequence] : sequences_) {
        take_cancelled(sequence.waiting);
    }
    std::vector<std::string> touched;
    for (auto& [name, host] : hosts_) {
        if (take_cancelled(host.waiting)) {
            touched.push_back(name);
        }
    }
    for (const std::string& name : touched) {
        refresh(name, now);
    }
    for (const Id id : ended) {
        drop(id, Unsent::kCancelled, now);
    }
}

std::vector<TransferSchedule::Dropped> TransferSchedule::take_dropped() {
    return std::exchange(dropped_, {});
}

TransferSchedule::Clock::duration TransferSchedule::jittered(long delay_ms) {
    return std::chrono::microseconds(
        static_cast<long long>(static_cast<double>(delay_ms) * 1000.0 * jitter_()));
}

}  // namespace qinglan
