// Work done elsewhere and answered on the windows' thread: the answers run
// there, in order, and never once their receiver is gone, however the
// timing falls.

#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/background_work.h"
#include "gui_fixture.h"

namespace qinglan {

class BackgroundWorkTest : public QObject {
    Q_OBJECT

private slots:
    void answersRunOnTheWindowsThreadInOrder() {
        std::vector<int> seen;
        std::vector<QThread*> threads;
        QThread* work_thread = nullptr;
        BackgroundWork work([&](const UiAnswers& answers, const std::atomic<bool>&) {
            work_thread = QThread::currentThread();
            for (int i = 0; i < 100; ++i) {
                answers.post([&seen, &threads, i] {
                    seen.push_back(i);
                    threads.push_back(QThread::currentThread());
                });
            }
        });
        QTRY_VERIFY(work.finished());
        QTRY_COMPARE(seen.size(), std::size_t(100));
        for (int i = 0; i < 100; ++i) {
            QCOMPARE(seen[i], i);
            QCOMPARE(threads[i], QThread::currentThread());
        }
        QVERIFY(work_thread != QThread::currentThread());
    }

    // The answers touch their receiver: one that ran after it was destroyed
    // would read freed memory (and a sanitizer build stops there).
    void noAnswerOnceTheReceiverIsGone() {
        for (int round = 0; round < 20; ++round) {
            auto receiver = std::make_unique<QObject>();
            auto* values = new std::vector<int>();
            QObject::connect(receiver.get(), &QObject::destroyed, [values] { delete values; });
            const UiAnswers answers(receiver.get());
            QObject* target = receiver.get();
            std::atomic<bool> go{false};
            std::thread poster([&] {
                while (!go) {
                }
                for (int i = 0; i < 1000; ++i) {
                    answers.post([target, values, i] {
                        values->push_back(i);
                        target->setObjectName(QString::number(i));
                    });
                }
            });
            go = true;
            QTest::qWait(round % 3);  // some answers run, the others are pending
            receiver.reset();
            poster.join();
            QTest::qWait(5);
        }
    }

    // Destroying the work stops it and waits for it: nothing it posted runs
    // afterwards, and it is not left running.
    void destroyingTheWorkStopsItAndDropsItsAnswers() {
        int answered = 0;
        std::atomic<bool> ended{false};
        {
            BackgroundWork work([&](const UiAnswers& answers, const std::atomic<bool>& stop) {
                while (!stop) {
                    answers.post([&answered] { ++answered; });
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                }
                answers.post([&answered] { answered += 1000000; });
                ended = true;
            });
            QTRY_VERIFY(answered > 0);
        }
        QVERIFY(ended);
        const int before = answered;
        QTest::qWait(20);
        QCOMPARE(answered, before);
        QVERIFY(answered < 1000000);
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::BackgroundWorkTest>(argc, argv);
}

#include "background_work_test.moc"
