#include "export/temporary_files.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace qinglan {
namespace {

// A slot's path may be read by the handler only while the slot is kListed.
// The handler takes a slot for good (kRemoving) before it reads the path, so
// a thread that unregisters and reuses the slot meanwhile cannot rewrite
// the path under it; the process ends right after anyway.
enum SlotState : int { kFree, kWriting, kListed, kRemoving };

static_assert(std::atomic<int>::is_always_lock_free,
              "the handler may only use atomics that need no lock");

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

Slot slots[kMaxTemporaryFiles];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_and_end(int signal_number) {
    for (Slot& slot : slots) {
        int expected = kListed;
        if (slot.state.compare_exchange_strong(expected, kRemoving)) {
            ::unlink(slot.path);
        }
    }
    // The signal is blocked while its handler runs, so the raised one waits
    // until the handler returns and then meets the default action.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(signal_number, &default_action, nullptr);
    ::raise(signal_number);
}

}  // namespace

sigset_t temporary_file_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number : kSignals) {
        sigaddset(&signals, signal_number);
    }
    return signals;
}

void remove_temporary_files_on_signals() {
    struct sigaction action {};
    action.sa_handler = remove_and_end;
    // One handler at a time: a second signal waits until the first has
    // ended the process.
    action.sa_mask = temporary_file_signals();
    for (const int signal_number : kSignals) {
        struct sigaction previous {};
        if (::sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            ::sigaction(signal_number, &action, nullptr);
        }
    }
}

int register_temporary_file(const std::string& path) {
    if (path.empty() || path.size() >= PATH_MAX) {
        return -1;
    }
    for (int index = 0; index < kMaxTemporaryFiles; ++index) {
        Slot& slot = slots[index];
        int expected = kFree;
        if (slot.state.compare_exchange_strong(expected, kWriting)) {
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.state.store(kListed);
            return index;
        }
    }
    return -1;
}

void unregister_temporary_file(int slot) {
    if (slot < 0 || slot >= kMaxTemporaryFiles) {
        return;
    }
    // Fails only when the handler has taken the slot; it stays taken then.
    int expected = kListed;
    slots[slot].state.compare_exchange_strong(expected, kFree);
}

}  // namespace qinglan
