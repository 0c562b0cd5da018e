#pragma once

// Work done away from the windows' thread and answered on it. Whatever does
// the work (a thread of its own, the transfer loop), its answers reach the
// windows through UiAnswers: each one is queued to the windows' thread and
// runs there only while its receiver still exists, so an answer that arrives
// after its window, page or start-up went is dropped, never run on a
// destroyed object.
//
// BackgroundWork is the common case: a thread of its own that is told to
// stop and waited for when it is destroyed, after which no answer of it runs.

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace qinglan {

// A copyable address for answers to one receiver; it may be used from any
// thread. The receiver is only ever looked at on the windows' thread.
class UiAnswers {
public:
    // Made on the windows' thread.
    explicit UiAnswers(QObject* receiver)
        : receiver_(std::make_shared<const QPointer<QObject>>(receiver)) {}

    // Runs `answer` later on the windows' thread, unless the receiver is gone
    // by then (or the program is past its event loop).
    template <typename Answer>
    void post(Answer&& answer) const {
        QCoreApplication* application = QCoreApplication::instance();
        if (application == nullptr) {
            return;
        }
        QMetaObject::invokeMethod(
            application,
            [receiver = receiver_, answer = std::forward<Answer>(answer)]() mutable {
                if (!receiver->isNull()) {
                    answer();
                }
            },
            Qt::QueuedConnection);
    }

private:
    // Shared, so that the workers copy an owning pointer, never the QPointer
    // that the windows' thread clears.
    std::shared_ptr<const QPointer<QObject>> receiver_;
};

// Runs `work` on a thread of its own. `work` gets the address of its
// answers and a flag that says when to stop; destroying the BackgroundWork
// (on the windows' thread) sets the flag, waits for the thread and drops the
// answers not run yet.
class BackgroundWork {
public:
    using Work = std::function<void(const UiAnswers& answers, const std::atomic<bool>& stop)>;

    explicit BackgroundWork(Work work) {
        thread_ = std::thread([this, answers = UiAnswers(receiver_.get()), work = std::move(work)] {
            work(answers, stop_);
            finished_ = true;
        });
    }

    ~BackgroundWork() {
        stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Asks the work to end; it may still be running when this returns.
    void stop() { stop_ = true; }
    bool stopping() const { return stop_; }
    // The work returned (its last answers may still be on their way).
    bool finished() const { return finished_; }

private:
    // The answers are bound to it: they go with it.
    std::unique_ptr<QObject> receiver_ = std::make_unique<QObject>();
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace qinglan
