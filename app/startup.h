#pragma once

// The program's start-up behind a window that is already shown: the
// database is prepared, then the remote notice and the update descriptor
// are asked for at once, without waiting for them. Meanwhile the start page
// says "正在检查更新…" and the user can work. When both have answered, the
// notice (or the built-in one) goes onto the start page; a descriptor that
// announces another version hands over to the updater and ends the program;
// installed from a package, it is shown with how to get it instead.
// A check that takes longer than its deadline is given up: the program
// stays as it is, ready.
//
// No thread of its own: the requests run on the process's transfer loop and
// their answers come back to the windows' thread (see UiAnswers). Whatever
// the timing, nothing of a start-up outlives it: once it is destroyed (the
// window closed, the program quitting), its requests are stopped and waited
// for, and an answer that arrives after that is dropped.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "app/background_work.h"
#include "services/fetch.h"
#include "services/text.h"
#include "update/update_check.h"

namespace qinglan {

class Dialogs;
class MainWindow;

class StartUp final : public QObject {
    Q_OBJECT

public:
    // The update host, the run directory and the program's name are the
    // window's settings; `deadline` is for the notice and the check together.
    StartUp(MainWindow& window, Dialogs& dialogs,
            std::chrono::milliseconds deadline = std::chrono::seconds(10));
    ~StartUp() override;

    static QString checking_text();
    // What the start page says of an announced version when the program
    // was installed from a package.
    static QString package_update_text(const UpdateDescriptor& descriptor);

    // Prepares the database and sends the two requests; returns at once.
    void start();

    // True from start() until the check has ended or been given up.
    bool checking() const { return checking_; }

private:
    enum Request { kNotice, kDescriptor, kRequests };
    struct Shared;

    void send(Request request, const std::string& address);
    void arrived(Request request, const Text& answer);
    void give_up();
    void finish(bool gave_up);
    void hand_over(const UpdateDescriptor& descriptor);

    MainWindow& window_;
    Dialogs& dialogs_;
    const std::chrono::milliseconds deadline_time_;
    std::shared_ptr<Shared> shared_;
    UiAnswers answers_;
    QTimer deadline_;
    bool checking_ = false;
    bool answered_[kRequests] = {false, false};
    Text notice_;
    std::optional<UpdateDescriptor> descriptor_;
};

}  // namespace qinglan
