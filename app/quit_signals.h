#pragma once

// Makes SIGINT and SIGTERM end the windows as "退出" does, so that a
// program stopped from a terminal or by its session stops its collections
// and start-up cleanly and exits with status 0, whatever it is doing. The
// handler only writes a byte to a pipe; the quitting itself runs on the
// windows' thread. One at a time per process.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace qinglan {

class QuitOnSignals final : public QObject {
    Q_OBJECT

public:
    // Catches the signals from now on; `quit` runs on this thread's event
    // loop once one has come. False from installed() when the pipe could
    // not be made: the signals then keep their default action.
    explicit QuitOnSignals(std::function<void()> quit);
    ~QuitOnSignals() override;

    bool installed() const { return notifier_ != nullptr; }

private:
    std::function<void()> quit_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace qinglan
