#include "engine/work_pool.h"

namespace qinglan {

WorkPool::WorkPool(int threads) {
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { work(); });
    }
}

WorkPool::~WorkPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void WorkPool::post(std::function<void()> step) {
    std::lock_guard lock(mutex_);
    steps_.push_back(std::move(step));
    // Under the lock: once it is released the pool may be gone.
    wake_.notify_one();
}

void WorkPool::work() {
    for (;;) {
        std::function<void()> step;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !steps_.empty(); });
            if (steps_.empty()) {
                return;  // stopping, with nothing left to do
            }
            step = std::move(steps_.front());
            steps_.pop_front();
        }
        step();
    }
}

void Strand::post(std::function<void()> step) {
    bool start = false;
    {
        std::lock_guard lock(mutex_);
        steps_.push_back(std::move(step));
        start = !draining_;
        draining_ = true;
    }
    // Only the first step of a run schedules the drain; until it runs, the
    // strand's owner cannot have finished with it.
    if (start) {
        pool_.post([this] { drain(); });
    }
}

void Strand::drain() {
    for (;;) {
        std::function<void()> step;
        {
            std::lock_guard lock(mutex_);
            if (steps_.empty()) {
                draining_ = false;
                return;
            }
            step = std::move(steps_.front());
            steps_.pop_front();
        }
        step();
    }
}

}  // namespace qinglan
