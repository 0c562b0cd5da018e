#pragma once

// A few threads that run the collection's steps: extracting records,
// reporting them and storing them, which must not run on the transfer
// loop's thread (a store may wait seconds for a busy database). A Strand
// runs the steps of one task one after the other, in the order they were
// posted, on whichever thread is free; different tasks' steps run at once.
//
// The pool finishes every posted step before its destructor returns. A
// Strand must outlive the steps posted to it.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qinglan {

class WorkPool {
public:
    explicit WorkPool(int threads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // Safe from any thread; nothing of the pool is touched once it returns.
    void post(std::function<void()> step);

private:
    void work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> steps_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

class Strand {
public:
    explicit Strand(WorkPool& pool) : pool_(pool) {}
    Strand(const Strand&) = delete;
    Strand& operator=(const Strand&) = delete;

    void post(std::function<void()> step);

private:
    void drain();

    WorkPool& pool_;
    std::mutex mutex_;
    std::deque<std::function<void()>> steps_;
    bool draining_ = false;
};

}  // namespace qinglan
