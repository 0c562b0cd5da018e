// The program installed as the package lays it out (bin/qinglan beside
// share/qinglan, unpacked anywhere) keeps the user's data in the user's
// folders and never beside itself; unpacked without share/qinglan it
// keeps everything beside itself, as run from its build tree.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/child_process.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;

// The number of rows of `table` in the data folder's database; -1 when it
// cannot be read.
long long stored_rows(const fs::path& data_dir, const std::string& table) {
    const std::string path = (data_dir / "date" / "lingshishuj.db").string();
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    long long rows = -1;
    const std::string sql = "SELECT count(*) FROM \"" + table + "\"";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        rows = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// The names in a folder, to see that nothing was left beside the program.
std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class InstalledLayoutTest : public ::testing::Test {
protected:
    InstalledLayoutTest() : root_("installed_layout") {
        fs::create_directories(root_.path() / "bin");
        fs::create_directories(home());
        // A link where the file system allows one: the program finds its
        // folder by the path it was started from.
        std::error_code error;
        fs::create_hard_link(QINGLAN_PROGRAM, program(), error);
        if (error) {
            fs::copy_file(QINGLAN_PROGRAM, program());
        }
    }

    void install_shared_files() {
        const fs::path sites = root_.path() / "share" / "qinglan" / "sites";
        fs::create_directories(sites);
        fs::copy_file(fs::path(QINGLAN_TEST_SOURCE) / ".." / "sites" / "sample_shop.ini",
                      sites / "sample_shop.ini");
    }

    fs::path program() const { return root_.path() / "bin" / "qinglan"; }
    fs::path home() const { return root_.path() / "home"; }

    // Runs the program as a user whose only folder is home(), with the XDG
    // folders set as given (empty: unset).
    int run(const std::vector<std::string>& arguments, const std::string& data_home = {},
            const std::string& config_home = {}) {
        std::vector<std::string> command = {program().string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const std::string home_dir = home().string();
        Child child(command, [&] {
            setenv("HOME", home_dir.c_str(), 1);
            for (const auto& [name, value] : {std::pair{"XDG_DATA_HOME", data_home},
                                              std::pair{"XDG_CONFIG_HOME", config_home}}) {
                value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
            }
        });
        const int status = child.wait();
        output_ = child.output();
        errors_ = child.errors();
        return status;
    }

    TempFolder root_;
    std::string output_, errors_;
};

TEST_F(InstalledLayoutTest, TheDataGoesToTheUsersFolderNeverBesideTheProgram) {
    install_shared_files();
    ASSERT_EQ(run({"collect", "--demo", "手机"}), 0) << errors_;
    const fs::path data = home() / ".local" / "share" / "qinglan";
    EXPECT_GT(stored_rows(data, "手机"), 0);
    EXPECT_EQ(names_in(root_.path() / "bin"), std::vector<std::string>{"qinglan"});

    ASSERT_EQ(run({"tables"}), 0) << errors_;
    EXPECT_EQ(errors_, "data folder: " + data.string() + "\n");
    EXPECT_NE(output_.find("\n手机\t"), std::string::npos) << output_;

    ASSERT_EQ(run({"--help"}), 0) << errors_;
    EXPECT_NE(output_.find("Data folder in use: " + data.string() + "\n"), std::string::npos);
    EXPECT_NE(output_.find("Settings file in use: " + (home() / ".config" / "qinglan").string() +
                           "/qinglan.ini\n"),
              std::string::npos)
        << output_;

    // A shipped site profile is found by its name.
    ASSERT_EQ(run({"collect", "--demo", "--site", "sample_shop.ini", "茶叶"}), 0) << errors_;
    EXPECT_EQ(stored_rows(data, "茶叶"), 24);
}

TEST_F(InstalledLayoutTest, TheXdgFoldersAndThenDataDirWin) {
    install_shared_files();
    const fs::path data_home = root_.path() / "data";
    const fs::path config = root_.path() / "config" / "qinglan";
    fs::create_directories(config);
    std::ofstream(config / "qinglan.ini") << "[network]\nretries=11\n";

    // The settings are read from the user's settings folder.
    EXPECT_EQ(run({"tables"}, data_home.string(), config.parent_path().string()), 2);
    EXPECT_NE(errors_.find("retries in " + (config / "qinglan.ini").string()), std::string::npos)
        << errors_;
    ASSERT_EQ(run({"--help"}, data_home.string()), 0) << errors_;
    EXPECT_NE(output_.find("Data folder in use: " + (data_home / "qinglan").string() + "\n"),
              std::string::npos)
        << output_;

    // --data-dir holds both the database and qinglan.ini.
    const fs::path given = root_.path() / "given";
    ASSERT_EQ(run({"collect", "--demo", "--data-dir", given.string(), "手机"}, data_home.string(),
                  config.parent_path().string()),
              0)
        << errors_;
    EXPECT_GT(stored_rows(given, "手机"), 0);
    EXPECT_FALSE(fs::exists(data_home));
}

TEST_F(InstalledLayoutTest, WithoutSharedFilesEverythingStaysBesideTheProgram) {
    ASSERT_EQ(run({"collect", "--demo", "手机"}), 0) << errors_;
    EXPECT_GT(stored_rows(root_.path() / "bin", "手机"), 0);
    EXPECT_FALSE(fs::exists(home() / ".local"));
    ASSERT_EQ(run({"tables"}), 0) << errors_;
    EXPECT_EQ(errors_, "data folder: " + (root_.path() / "bin").string() + "\n");
}

}  // namespace
}  // namespace qinglan
