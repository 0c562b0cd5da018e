#include "services/environment.h"

#include "tests/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace qinglan {
namespace {

namespace fs = std::filesystem;

class TempDir : public testing::Test {
protected:
    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const fs::path dir_ = folder_.path();
};

TEST(Environment, RunDirectoryAndExecutableName) {
    const std::string dir = run_directory();
    const std::string name = executable_name();
    EXPECT_EQ(name, "services_test");
    EXPECT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(fs::exists(fs::path(dir) / name));
}

using FileExists = TempDir;

TEST_F(FileExists, FilesFoldersAndWildcards) {
    std::ofstream(dir_ / "up") << "x";
    EXPECT_TRUE(file_exists((dir_ / "up").string()));
    EXPECT_TRUE(file_exists(dir_.string()));
    EXPECT_FALSE(file_exists((dir_ / "missing").string()));
    EXPECT_FALSE(file_exists(""));
    EXPECT_TRUE(file_exists((dir_ / "u*").string()));
    EXPECT_TRUE(file_exists((dir_ / "u?").string()));
    EXPECT_FALSE(file_exists((dir_ / "x*").string()));
}

using IniFile = TempDir;

TEST_F(IniFile, WritesSectionsAndKeysInOrder) {
    const std::string path = (dir_ / "up.ini").string();
    ASSERT_TRUE(write_ini_value(path, "a", "k1", "v1"));
    ASSERT_TRUE(write_ini_value(path, "b", "k", "\xCA\xD6"));
    ASSERT_TRUE(write_ini_value(path, "a", "k2", "v2"));
    ASSERT_TRUE(write_ini_value(path, "a", "k1", "new"));
    EXPECT_EQ(file_contents(path), "[a]\nk1=new\nk2=v2\n[b]\nk=\xCA\xD6\n");

    ASSERT_TRUE(write_ini_value(path, "a", "k2", std::nullopt));
    EXPECT_EQ(file_contents(path), "[a]\nk1=new\n[b]\nk=\xCA\xD6\n");
    ASSERT_TRUE(write_ini_value(path, "a", std::nullopt, std::nullopt));
    EXPECT_EQ(file_contents(path), "[b]\nk=\xCA\xD6\n");
}

TEST_F(IniFile, KeepsWhatItDoesNotWrite) {
    const std::string path = (dir_ / "up.ini").string();
    std::ofstream(path) << "; comment\r\n[x]\r\nother = 1\r\n\r\n[y]\r\nk=old\r\n";
    ASSERT_TRUE(write_ini_value(path, "x", "k", "v"));
    ASSERT_TRUE(write_ini_value(path, "y", "k", "v"));
    EXPECT_EQ(file_contents(path), "; comment\n[x]\nother = 1\nk=v\n\n[y]\nk=v\n");
}

TEST_F(IniFile, ReadsWhatWasWritten) {
    const std::string path = (dir_ / "qinglan.ini").string();
    std::ofstream(path) << "[hosts]\r\n search_host = 127.0.0.1:80 \r\n[other]\nsearch_host=x\n";
    EXPECT_EQ(read_ini_value(path, "hosts", "search_host"), "127.0.0.1:80");
    EXPECT_EQ(read_ini_value(path, "other", "search_host"), "x");
    EXPECT_EQ(read_ini_value(path, "hosts", "member_host"), std::nullopt);
    EXPECT_EQ(read_ini_value((dir_ / "missing.ini").string(), "hosts", "x"), std::nullopt);
}

TEST_F(IniFile, FailsInAMissingFolder) {
    EXPECT_FALSE(write_ini_value((dir_ / "no" / "up.ini").string(), "s", "k", "v"));
}

using RunProgram = TempDir;

TEST_F(RunProgram, StartsWithoutWaiting) {
    const fs::path script = dir_ / "child.sh";
    std::ofstream(script) << "#!/bin/sh\ntouch \"" << (dir_ / "ran").string() << "\"\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(run_program(script.string()));
    // The program runs on its own: its mark appears some time after the call.
    for (int i = 0; i < 2500 && !fs::exists(dir_ / "ran"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(fs::exists(dir_ / "ran"));
    EXPECT_FALSE(run_program((dir_ / "missing").string()));
    EXPECT_FALSE(run_program(""));
}

}  // namespace
}  // namespace qinglan
