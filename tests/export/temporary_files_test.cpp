// The files removed when a signal ends the process. The handlers end the
// process, so each case that raises a signal runs in a forked child.

#include "export/temporary_files.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/export/export_fixture.h"

namespace qinglan {
namespace {

class TemporaryFilesTest : public ExportFixture {
protected:
    void make_file(const std::string& name) { std::ofstream(path(name)) << "half a workbook"; }

    // The wait status of a child that runs `body` and then exits with 0.
    static int status_of_child(const std::function<void()>& body) {
        const pid_t child = fork();
        if (child == 0) {
            body();
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return status;
    }
};

TEST_F(TemporaryFilesTest, ASignalRemovesTheListedFilesAndEndsTheProcessByIt) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        const int status = status_of_child([&] {
            // A test run started in the background inherits SIGINT ignored.
            signal(signal_number, SIG_DFL);
            remove_temporary_files_on_signals();
            for (const char* name : {"listed", "also listed", "taken off"}) {
                make_file(name);
            }
            register_temporary_file(path("listed"));
            register_temporary_file(path("also listed"));
            unregister_temporary_file(register_temporary_file(path("taken off")));
            raise(signal_number);
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_EQ(names_in(dir_), std::vector<std::string>{"taken off"});
        std::filesystem::remove(path("taken off"));
    }
}

// A program started under nohup must go on after a hangup.
TEST_F(TemporaryFilesTest, AnIgnoredSignalStaysIgnored) {
    const int status = status_of_child([&] {
        signal(SIGHUP, SIG_IGN);
        remove_temporary_files_on_signals();
        make_file("listed");
        register_temporary_file(path("listed"));
        raise(SIGHUP);
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{"listed"});
}

TEST_F(TemporaryFilesTest, AFullListRefusesAndAFreedSlotIsUsedAgain) {
    std::vector<int> slots;
    for (int i = 0; i <= kMaxTemporaryFiles; ++i) {
        slots.push_back(register_temporary_file(path("file" + std::to_string(i))));
    }
    EXPECT_EQ(slots.back(), -1);
    slots.pop_back();
    for (const int slot : slots) {
        EXPECT_GE(slot, 0);
    }

    unregister_temporary_file(slots[3]);
    EXPECT_EQ(register_temporary_file(path("again")), slots[3]);

    for (const int slot : slots) {
        unregister_temporary_file(slot);
    }
    unregister_temporary_file(-1);
    unregister_temporary_file(kMaxTemporaryFiles);
}

TEST_F(TemporaryFilesTest, APathThatCannotExistIsNotListed) {
    EXPECT_EQ(register_temporary_file(""), -1);
    EXPECT_EQ(register_temporary_file("/" + std::string(PATH_MAX, 'a')), -1);
}

}  // namespace
}  // namespace qinglan
