#include "app/quit_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <csignal>

namespace qinglan {
namespace {

std::atomic<int> write_end{-1};
int read_end = -1;

extern "C" void on_quit_signal(int) {
    const int fd = write_end.load();
    if (fd >= 0) {
        const char byte = 'q';
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
}

}  // namespace

QuitOnSignals::QuitOnSignals(std::function<void()> quit) : quit_(std::move(quit)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    read_end = ends[0];
    write_end = ends[1];
    notifier_ = new QSocketNotifier(read_end, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(read_end, bytes, sizeof bytes) > 0) {
        }
        if (quit_) {
            quit_();
        }
    });
    struct sigaction action = {};
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals() {
    if (notifier_ == nullptr) {
        return;
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    const int fd = write_end.exchange(-1);
    ::close(fd);
    ::close(read_end);
    read_end = -1;
}

}  // namespace qinglan
