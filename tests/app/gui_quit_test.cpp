// The windows' program at the edges of its life: stopped by a signal while
// its update check hangs, at many moments of its start, as a session or a
// terminal stops it (once it can take the signal it exits cleanly with
// status 0, never by an abort, and promptly; before that, the signal's own
// default action ends it); and started before its X server is ready, or
// without one.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/gui_app.h"
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

TEST(GuiStart, LocalDisplaysAreKnownBySocket) {
    EXPECT_EQ(display_socket(":7", "/x"), "/x/X7");
    EXPECT_EQ(display_socket(":12.0", "/x"), "/x/X12");
    EXPECT_EQ(display_socket("unix:3", "/x"), "/x/X3");
    for (const char* other : {"", ":", "host:0", ":a", "localhost:10.0"}) {
        EXPECT_EQ(display_socket(other, "/x"), "") << other;
    }
}

// A display that is not there yet: the start waits for it, and ends with a
// message, not an abort, when it never comes.
TEST(GuiStart, WaitsForTheDisplayAndNeverAborts) {
    TempFolder folder("gui-display");
    const std::string socket = folder.str() + "/X5";
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait_for_display(socket, 100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);

    std::thread server([&] {
        std::this_thread::sleep_for(200ms);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        socket.copy(address.sun_path, socket.size());
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(fd, 4);
        std::this_thread::sleep_for(500ms);
        ::close(fd);
    });
    started = std::chrono::steady_clock::now();
    EXPECT_TRUE(wait_for_display(socket, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
    server.join();

    // The X server never comes: a message and status 1.
    Child child({QINGLAN_PROGRAM, "--data-dir", folder.str()}, [] {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("DISPLAY", "127.0.0.1:93", 1);  // nothing listens on port 6093
    });
    EXPECT_EQ(child.wait(), 1) << child.errors();
    EXPECT_EQ(child.end_signal(), 0);
    EXPECT_NE(child.errors().find("无法打开窗口"), std::string::npos) << child.errors();
}

}  // namespace
}  // namespace qinglan
