#include "app/startup.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "services/charset.h"
#include "services/environment.h"
#include "services/transfer_loop.h"

namespace qinglan {
namespace {

// How long a start-up that goes waits for its requests to stop; they stop
// within about 100 ms, so this only bounds a loop that is stuck elsewhere.
constexpr auto kStopWait = std::chrono::seconds(2);

}  // namespace

// What the transfer loop's thread and the start-up share. The loop's
// callbacks hold it, so it lives until the last of them has run.
struct StartUp::Shared {
    std::mutex mutex;
    std::condition_variable ended;
    int pending = 0;  // requests not answered yet, under mutex
    std::atomic<bool> cancel{false};
};

StartUp::StartUp(MainWindow& window, Dialogs& dialogs, std::chrono::milliseconds deadline)
    : window_(window),
      dialogs_(dialogs),
      deadline_time_(deadline),
      shared_(std::make_shared<Shared>()),
      answers_(this) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &StartUp::give_up);
}

StartUp::~StartUp() {
    std::unique_lock lock(shared_->mutex);
    shared_->cancel = true;
    if (shared_->pending > 0) {
        TransferLoop::shared().wake();
        shared_->ended.wait_for(lock, kStopWait, [this] { return shared_->pending == 0; });
    }
}

QString StartUp::checking_text() {
    return QStringLiteral("正在检查更新…");
}

void StartUp::start() {
    window_.prepare_database();
    const std::string& host = window_.settings().update_host;
    if (host.empty()) {
        answered_[kNotice] = answered_[kDescriptor] = true;
        finish(false);
        return;
    }
    checking_ = true;
    window_.show_notice(checking_text());
    deadline_.start(deadline_time_);
    send(kNotice, notice_address(host));
    send(kDescriptor, descriptor_address(host));
}

void StartUp::send(Request request, const std::string& address) {
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->pending;
    }
    TransferLoop::Request fetch;
    fetch.url = address;
    fetch.retry = false;  // the deadline is short, and the next start asks again
    fetch.cancel = {&shared_->cancel, nullptr};
    // Runs on the loop's thread; the answer reaches the start-up only while
    // it exists.
    fetch.done = [shared = shared_, answers = answers_, owner = this, request](Bytes body,
                                                                               FetchInfo info) {
        answers.post([owner, request, answer = answer_text(body, info)] {
            owner->arrived(request, answer);
        });
        std::lock_guard lock(shared->mutex);
        --shared->pending;
        shared->ended.notify_all();
    };
    TransferLoop::shared().submit(std::move(fetch));
}

void StartUp::arrived(Request request, const Text& answer) {
    if (!checking_) {
        return;  // given up already
    }
    answered_[request] = true;
    if (request == kNotice) {
        notice_ = answer;
    } else {
        descriptor_ = descriptor_of(answer);
    }
    if (answered_[kNotice] && answered_[kDescriptor]) {
        finish(false);
    }
}

void StartUp::give_up() {
    if (!checking_) {
        return;
    }
    shared_->cancel = true;
    TransferLoop::shared().wake();
    finish(true);
}

void StartUp::finish(bool gave_up) {
    checking_ = false;
    deadline_.stop();
    // The server's notice goes above the instructions, which stay.
    QString notice = notice_.empty()
                         ? MainWindow::built_in_notice()
                         : from_utf8(gbk_to_utf8(notice_)) + QStringLiteral("\r\n\r\n") +
                               MainWindow::built_in_notice();
    if (gave_up) {
        notice = QStringLiteral("更新服务器没有及时回答，已跳过检查更新。\r\n\r\n") + notice;
    }
    const bool update = !gave_up && descriptor_ && announces_update(*descriptor_);
    // Installed from a package, the program's folder is the system's: no
    // updater lives beside it and nothing may be written there. The
    // package manager brings the new version.
    const bool installed = !window_.settings().shared_dir.empty();
    if (update && installed) {
        notice = package_update_text(*descriptor_) + QStringLiteral("\r\n\r\n") + notice;
    }
    window_.show_notice(notice);
    if (update && !installed) {
        hand_over(*descriptor_);
    }
}

QString StartUp::package_update_text(const UpdateDescriptor& descriptor) {
    QString text = QStringLiteral(
                       "有新版本 %1。本程序是用软件包安装的，请用系统的软件包管理器更新"
                       "（例如 sudo apt update && sudo apt upgrade）。")
                       .arg(from_utf8(gbk_to_utf8(descriptor.version)));
    if (!descriptor.description.empty()) {
        text += QStringLiteral("\r\n版本说明：") + from_utf8(gbk_to_utf8(descriptor.description));
    }
    return text;
}

void StartUp::hand_over(const UpdateDescriptor& descriptor) {
    const Options& settings = window_.settings();
    write_handover_file(settings.run_dir, settings.program_name, descriptor);
    const std::string updater = updater_path(settings.run_dir);
    if (!file_exists(updater)) {
        dialogs_.message(
            nullptr,
            QStringLiteral("青岚采集 文件不完整，请重新下载。\r\n本软件绿色，无毒无害请放心使用！"),
            Dialogs::Icon::kNone, QStringLiteral("   青岚采集软件友情提示"));
    } else {
        run_program(updater);
    }
    window_.end_program(0);
}

}  // namespace qinglan
