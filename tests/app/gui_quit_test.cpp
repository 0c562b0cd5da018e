// The windows' program stopped by a signal while its update check hangs, at
// many moments of its start, as a session or a terminal stops it: once it
// can take the signal it exits cleanly with status 0, never by an abort,
// and promptly; before that, the signal's own default action ends it.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <thread>

#include "tests/app/child_process.h"
#include "tests/temp_folder.h"
#include "tools/sample_marketplace.h"

namespace qinglan {
namespace {

using namespace std::chrono_literals;

TEST(GuiQuit, ASignalDuringAHangingCheckEndsCleanly) {
    SampleMarketplace update_server;
    ASSERT_TRUE(update_server.start());
    for (const char* file : {"123.txt", "up.txt"}) {
        update_server.set_behaviour(file, {.never_answer = true});
    }
    TempFolder folder("gui-quit");
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        update_server.clear_requests();
        Child child({QINGLAN_PROGRAM, "--data-dir", folder.str(), "--update-host",
                     update_server.search_host()},
                    [] { setenv("QT_QPA_PLATFORM", "offscreen", 1); });
        // Half the rounds stop it during its start, the others once the
        // check is known to hang.
        if (round % 2 == 1) {
            const auto give_up = std::chrono::steady_clock::now() + 10s;
            while (update_server.requests().size() < 2 &&
                   std::chrono::steady_clock::now() < give_up) {
                std::this_thread::sleep_for(5ms);
            }
            ASSERT_EQ(update_server.requests().size(), 2U) << "round " << round;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 60));
        const auto signalled = std::chrono::steady_clock::now();
        const int sent = round % 4 < 2 ? SIGTERM : SIGINT;
        child.send_signal(sent);
        const int status = child.wait();
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, 3s) << "round " << round;
        if (round % 2 == 0 && child.end_signal() == sent) {
            continue;  // it came before the program could take it: its default action
        }
        EXPECT_EQ(status, 0) << "round " << round << ": " << child.errors();
        EXPECT_EQ(child.end_signal(), 0) << "round " << round;
    }
}

}  // namespace
}  // namespace qinglan
