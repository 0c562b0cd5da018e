// `qinglan export` run as a user runs it, on a database filled beforehand.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "storage/sqlite_store.h"
#include "tests/app/child_process.h"
#include "tests/export/workbook_reader.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;

class ExportCommandTest : public testing::Test {
protected:
    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const fs::path dir_ = folder_.path();

    void store(const std::string& keyword, const std::vector<ContactRecord>& records) {
        std::string error;
        auto database = SqliteStore::open(dir_.string(), &error);
        ASSERT_TRUE(database) << error;
        ASSERT_TRUE(database->ensure_table(keyword, &error)) << error;
        for (const ContactRecord& record : records) {
            ASSERT_TRUE(database->insert_record(keyword, record, -1, &error)) << error;
        }
    }

    // Stores `rows` made-up rows in one statement: inserted one by one, a
    // table large enough to take a while to export takes far longer to fill.
    void store_many(const std::string& keyword, int rows) {
        store(keyword, {});
        std::string error;
        auto database = SqliteStore::open(dir_.string(), &error);
        ASSERT_TRUE(database) << error;
        ASSERT_TRUE(database->execute(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                std::to_string(rows) + ") INSERT INTO \"" + keyword +
                "\" (公司名称, 联系人, 用户账号, 电话, 地址, 邮编) "
                "SELECT '杭州某某电子有限公司' || i, '张伟', 'zhangwei' || i, '0571-' || i, "
                "'浙江省杭州市西湖区文三路' || i || '号', '310000' FROM n",
            &error))
            << error;
    }

    // The names in the folder that end in ".tmp", as the export's temporary
    // file does.
    std::vector<std::string> temporary_names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
                names.push_back(name);
            }
        }
        return names;
    }

    // Exports `keyword` to `name`, sends `signal_number` while the workbook
    // is being written under its temporary name, and checks that the signal
    // ended the program and took the temporary file with it.
    void interrupt_export(const std::string& keyword, const std::string& name, int signal_number) {
        Child child(command({keyword, file(name)}), [] {
            // A test run started in the background inherits SIGINT ignored,
            // and the program leaves an ignored signal ignored.
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            signal(SIGHUP, SIG_DFL);
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (temporary_names().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_FALSE(temporary_names().empty()) << "the export never started writing";
        child.send_signal(signal_number);
        child.wait();
        EXPECT_EQ(child.end_signal(), signal_number) << child.errors();
        EXPECT_EQ(child.output(), "");
        EXPECT_EQ(temporary_names(), std::vector<std::string>{});
    }

    std::vector<std::string> command(std::vector<std::string> arguments) {
        std::vector<std::string> args = {QINGLAN_PROGRAM, "export", "--data-dir", dir_.string()};
        args.insert(args.end(), arguments.begin(), arguments.end());
        return args;
    }

    std::string file(const std::string& name) const { return (dir_ / name).string(); }
};

ContactRecord record(const std::string& company, const std::string& phone) {
    ContactRecord r;
    r[kCompanyName] = company;
    r[kContactName] = "张伟";
    r[kAccount] = "zhangwei" + phone.substr(phone.size() - 2);
    r[kTelephone] = phone;
    r[kPostalCode] = "010100";
    r[kAddress] = "浙江省杭州市\n西湖区";
    return r;
}

TEST_F(ExportCommandTest, WritesTheStoredRowsAndSaysHowMany) {
    store("手机",
          {record("杭州某某电子有限公司", "=0571-88881234"), record("宁波公司", "+86 574 12")});
    Child child(command({"手机", file("手机.xlsx")}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    EXPECT_EQ(child.output(), "手机: 2 rows written to " + file("手机.xlsx") + "\n");
    EXPECT_EQ(child.errors(), "");

    WorkbookReader book;
    std::string error;
    ASSERT_TRUE(book.read(file("手机.xlsx"), &error)) << error;
    EXPECT_EQ(book.last_row(), 3);
    EXPECT_EQ(book.text("A1"), "公司名称");
    EXPECT_EQ(book.text("C1"), "用户账户");
    EXPECT_EQ(book.text("A2"), "杭州某某电子有限公司");
    EXPECT_EQ(book.text("B2"), "张伟");
    EXPECT_EQ(book.text("C2"), "zhangwei34");
    EXPECT_EQ(book.text("G2"), "=0571-88881234");
    EXPECT_EQ(book.text("J2"), "浙江省杭州市\n西湖区");
    EXPECT_EQ(book.text("K2"), "010100");
    EXPECT_EQ(book.text("G3"), "+86 574 12");
    for (int row = 1; row <= 3; ++row) {
        for (int column = 0; column < 12; ++column) {
            const std::string reference = WorkbookReader::reference(column, row);
            ASSERT_NE(book.cell(reference), nullptr) << reference;
            EXPECT_EQ(book.number_format(reference), 49) << reference;
        }
    }
}

TEST_F(ExportCommandTest, AnEmptyTableGivesTheHeadings) {
    store("空", {});
    Child child(command({"空", file("empty.xlsx")}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    EXPECT_EQ(child.output(), "空: 0 rows written to " + file("empty.xlsx") + "\n");
    WorkbookReader book;
    std::string error;
    ASSERT_TRUE(book.read(file("empty.xlsx"), &error)) << error;
    EXPECT_EQ(book.last_row(), 1);
    EXPECT_EQ(book.text("L1"), "网站");
}

TEST_F(ExportCommandTest, TheKeywordIsTakenExactly) {
    store("x\"; DROP TABLE y", {record("甲", "0571-1")});
    store("手机", {record("乙", "0571-2")});
    Child child(command({"x\"; DROP TABLE y", file("odd.xlsx")}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    WorkbookReader book;
    std::string error;
    ASSERT_TRUE(book.read(file("odd.xlsx"), &error)) << error;
    EXPECT_EQ(book.text("A2"), "甲");

    // Neither a part of a keyword nor a database table of its own counts.
    for (const std::string keyword : {"手", "手机 ", "sqlite_master"}) {
        Child missing(command({keyword, file("missing.xlsx")}));
        EXPECT_EQ(missing.wait(), 1) << keyword;
        EXPECT_NE(missing.errors().find("'" + keyword + "' has no stored table"), std::string::npos)
            << missing.errors();
        EXPECT_EQ(missing.output(), "");
        EXPECT_FALSE(fs::exists(file("missing.xlsx")));
    }
}

TEST_F(ExportCommandTest, AFailedSaveSaysWhyAndKeepsTheOldFile) {
    store("手机", {record("甲", "0571-1")});
    Child no_folder(command({"手机", file("no-such-folder/out.xlsx")}));
    EXPECT_EQ(no_folder.wait(), 1);
    EXPECT_NE(no_folder.errors().find("No such file or directory"), std::string::npos)
        << no_folder.errors();
    EXPECT_EQ(no_folder.output(), "");

    std::ofstream(file("out.xlsx")) << "old contents";
    fs::create_directories(file("folder.xlsx"));
    Child a_folder(command({"手机", file("folder.xlsx")}));
    EXPECT_EQ(a_folder.wait(), 1);
    EXPECT_NE(a_folder.errors().find("folder.xlsx"), std::string::npos) << a_folder.errors();
    EXPECT_TRUE(fs::is_directory(file("folder.xlsx")));
    EXPECT_EQ(file_contents(file("out.xlsx")), "old contents");

    // Replacing the old file works once the export can be written.
    Child replaced(command({"手机", file("out.xlsx")}));
    ASSERT_EQ(replaced.wait(), 0) << replaced.errors();
    WorkbookReader book;
    std::string error;
    ASSERT_TRUE(book.read(file("out.xlsx"), &error)) << error;
    EXPECT_EQ(book.text("A2"), "甲");
}

TEST_F(ExportCommandTest, SeveralKeywordsGetASheetEachOrOneMergedTable) {
    store("手机", {record("甲公司", "0571-11"), record("乙公司", "0571-22")});
    store("手机/配件", {record("乙公司二", "0571-22"), record("丙公司", "0571-33")});
    Child sheets(command({"手机", "手机/配件", "手机", file("two.xlsx")}));
    ASSERT_EQ(sheets.wait(), 0) << sheets.errors();
    EXPECT_EQ(sheets.output(), "手机: 2 rows written to " + file("two.xlsx") +
                                   "\n手机/配件: 2 rows written to " + file("two.xlsx") + "\n");
    WorkbookReader first;
    std::string error;
    ASSERT_TRUE(first.read(file("two.xlsx"), &error)) << error;
    EXPECT_EQ(first.last_row(), 3);

    // zhangwei22 turned up under both keywords: its first row is kept.
    Child merged(command({"--merge", "手机", "手机/配件", file("merged.csv")}));
    ASSERT_EQ(merged.wait(), 0) << merged.errors();
    EXPECT_EQ(merged.output(), "2 keywords merged: 3 rows written to " + file("merged.csv") +
                                   ", 1 duplicate accounts left out\n");
    const std::string csv = file_contents(file("merged.csv"));
    EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(csv.find("\r\n手机,甲公司,"), std::string::npos);
    EXPECT_NE(csv.find("\r\n手机,乙公司,"), std::string::npos);
    EXPECT_EQ(csv.find("乙公司二"), std::string::npos);
    EXPECT_NE(csv.find("\r\n手机/配件,丙公司,"), std::string::npos);
}

// The file was written, so the status is 0; what did not fit is on stderr.
TEST_F(ExportCommandTest, CutCellsAreNamedAndTheExportGoesOn) {
    ContactRecord long_one = record("长公司", "0571-11");
    long_one[kAddress] = std::string(40000, 'x');
    store("手机", {record("甲公司", "0571-22"), long_one});
    Child child(command({"手机", file("long.xlsx")}));
    ASSERT_EQ(child.wait(), 0) << child.errors();
    EXPECT_EQ(child.output(), "手机: 2 rows written to " + file("long.xlsx") + "\n");
    EXPECT_NE(child.errors().find("1 cells cut at the 32767 characters a cell holds: 手机!J3"),
              std::string::npos)
        << child.errors();
    WorkbookReader book;
    std::string error;
    ASSERT_TRUE(book.read(file("long.xlsx"), &error)) << error;
    EXPECT_EQ(book.text("J3"), std::string(32767, 'x'));
}

// Enough rows that the export is still writing when the signal arrives.
constexpr int kSlowExportRows = 200000;

TEST_F(ExportCommandTest, CtrlCLeavesNoTemporaryFileAndTheOldFileAsItWas) {
    store_many("大表", kSlowExportRows);
    interrupt_export("大表", "new.xlsx", SIGINT);
    EXPECT_FALSE(fs::exists(file("new.xlsx")));

    std::ofstream(file("old.xlsx")) << "old contents";
    interrupt_export("大表", "old.xlsx", SIGINT);
    EXPECT_EQ(file_contents(file("old.xlsx")), "old contents");
}

TEST_F(ExportCommandTest, TermAndHangupLeaveNoTemporaryFileEither) {
    store_many("大表", kSlowExportRows);
    interrupt_export("大表", "new.xlsx", SIGTERM);
    EXPECT_FALSE(fs::exists(file("new.xlsx")));

    std::ofstream(file("old.xlsx")) << "old contents";
    interrupt_export("大表", "old.xlsx", SIGTERM);
    interrupt_export("大表", "old.xlsx", SIGHUP);
    EXPECT_EQ(file_contents(file("old.xlsx")), "old contents");
}

TEST_F(ExportCommandTest, WrongArgumentsAreBadUsage) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"手机"}}) {
        Child child(command(arguments));
        EXPECT_EQ(child.wait(), 2) << arguments.size();
        EXPECT_NE(child.errors().find("qinglan: export needs at least one keyword and a file name"),
                  std::string::npos)
            << child.errors();
        EXPECT_NE(child.errors().find("usage:"), std::string::npos);
    }
    // A CSV file holds one table.
    Child csv(command({"手机", "箱包", file("two.csv")}));
    EXPECT_EQ(csv.wait(), 2);
    EXPECT_NE(csv.errors().find("--merge"), std::string::npos) << csv.errors();
    EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
}  // namespace qinglan
