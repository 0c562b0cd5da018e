// A failed export says why, leaves no file behind and leaves a file already
// under the chosen name as it was.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/cell_text.h"
#include "export/table_export.h"
#include "tests/app/child_process.h"
#include "tests/export/export_fixture.h"
#include "tests/export/workbook_reader.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;

class XlsxExportFailureTest : public ExportFixture {
protected:
    std::vector<ContactRecord> some_rows(int count) {
        std::vector<ContactRecord> rows;
        for (int i = 0; i < count; ++i) {
            rows.push_back(
                VectorSource::record_for("浙江省杭州市西湖区文三路" + std::to_string(i)));
        }
        return rows;
    }
    void write_old_file(const std::string& name) { std::ofstream(path(name)) << "old contents"; }

    // Exports `rows` rows to out.xlsx in a child process whose files may not
    // grow beyond `limit` bytes; the export's result and its error text.
    bool export_with_file_size_limit(std::size_t limit, int rows, std::string* error) {
        int pipe_ends[2];
        if (pipe(pipe_ends) != 0) {
            return true;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(pipe_ends[0]);
            signal(SIGXFSZ, SIG_IGN);
            const rlimit bound{limit, limit};
            setrlimit(RLIMIT_FSIZE, &bound);
            VectorSource source(some_rows(rows));
            std::string reason;
            const bool written = export_one(path("out.xlsx"), source, {}, &reason);
            if (write(pipe_ends[1], reason.data(), reason.size()) < 0) {
                _exit(3);
            }
            _exit(written ? 1 : 0);
        }
        close(pipe_ends[1]);
        error->clear();
        char buffer[512];
        ssize_t n;
        while ((n = read(pipe_ends[0], buffer, sizeof buffer)) > 0) {
            error->append(buffer, static_cast<std::size_t>(n));
        }
        close(pipe_ends[0]);
        int status = 0;
        waitpid(child, &status, 0);
        return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
};

TEST_F(XlsxExportFailureTest, AMissingFolderIsReportedAndNothingIsWritten) {
    VectorSource source(some_rows(3));
    std::string error;
    EXPECT_FALSE(export_one(path("no-such-folder/out.xlsx"), source, {}, &error));
    EXPECT_NE(error.find("no-such-folder"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_TRUE(names_in(dir_).empty());
}

TEST_F(XlsxExportFailureTest, AFileInTheFolderPlaceIsReported) {
    write_old_file("plain");
    VectorSource source(some_rows(3));
    std::string error;
    EXPECT_FALSE(export_one(path("plain/out.xlsx"), source, {}, &error));
    EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{"plain"});
    EXPECT_TRUE(file_contents(path("plain")) == "old contents");
}

TEST_F(XlsxExportFailureTest, AFolderUnderTheChosenNameIsNotReplaced) {
    fs::create_directories(dir_ / "taken.xlsx" / "inside");
    VectorSource source(some_rows(3));
    std::string error;
    EXPECT_FALSE(export_one(path("taken.xlsx"), source, {}, &error));
    EXPECT_NE(error.find("taken.xlsx"), std::string::npos) << error;
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{"taken.xlsx"});
    EXPECT_TRUE(fs::is_directory(dir_ / "taken.xlsx" / "inside"));
}

// One value too long for a cell must not cost the keyword's other rows: it
// is cut where the cell is full, and the cell is named.
TEST_F(XlsxExportFailureTest, ATextOverTheCellLimitIsCutAndNamed) {
    std::vector<ContactRecord> rows = some_rows(3);
    rows[1][kPosition] = std::string(kMaxCellLength + 1, 'x');
    rows[2][kAddress] = std::string(40000, 'y');
    VectorSource source(rows);
    std::string error;
    ExportReport report;
    ASSERT_TRUE(export_one(path("out.xlsx"), source, {}, &error, &report)) << error;
    EXPECT_EQ(report.losses.cut_cells, 2u);
    EXPECT_EQ(report.losses.cut_cell_names, (std::vector<std::string>{"手机!E3", "手机!J4"}));
    WorkbookReader book;
    ASSERT_TRUE(book.read(path("out.xlsx"), &error)) << error;
    EXPECT_EQ(book.text("E3"), std::string(kMaxCellLength, 'x'));
    EXPECT_EQ(book.text("J4"), std::string(kMaxCellLength, 'y'));
    EXPECT_EQ(book.text("A4"), rows[2][0]);
}

TEST_F(XlsxExportFailureTest, TheLimitCountsAsExcelDoes) {
    std::vector<ContactRecord> rows = some_rows(1);
    std::string longest;
    for (std::size_t i = 0; i < kMaxCellLength; ++i) {
        longest += "中";
    }
    rows[0][kAddress] = longest;  // 32,767 characters of three bytes each: fits
    VectorSource fits(rows);
    std::string error;
    ExportReport report;
    ASSERT_TRUE(export_one(path("fits.xlsx"), fits, {}, &error, &report)) << error;
    EXPECT_EQ(report.losses.cut_cells, 0u);
    WorkbookReader book;
    ASSERT_TRUE(book.read(path("fits.xlsx"), &error)) << error;
    EXPECT_EQ(book.text("J2"), longest);

    // 16,384 characters outside the BMP are 32,768 UTF-16 units: one too many.
    rows[0][kAddress].clear();
    for (int i = 0; i < 16384; ++i) {
        rows[0][kAddress] += "😀";
    }
    VectorSource too_long(rows);
    ASSERT_TRUE(export_one(path("too-long.xlsx"), too_long, {}, &error, &report)) << error;
    EXPECT_EQ(report.losses.cut_cell_names, std::vector<std::string>{"手机!J2"});
    ASSERT_TRUE(book.read(path("too-long.xlsx"), &error)) << error;
    EXPECT_EQ(book.text("J2"), rows[0][kAddress].substr(0, 16383 * 4));
}

TEST_F(XlsxExportFailureTest, AnUnreadableRowFailsTheExport) {
    VectorSource source(some_rows(5));
    source.fail_at_ = 2;
    std::string error;
    EXPECT_FALSE(export_one(path("out.xlsx"), source, {}, &error));
    EXPECT_NE(error.find("row 3 of 5"), std::string::npos) << error;
    EXPECT_TRUE(names_in(dir_).empty());
}

TEST_F(XlsxExportFailureTest, MoreRowsThanASheetHoldsFailBeforeWriting) {
    class Huge final : public RowSource {
    public:
        std::size_t row_count() override { return kMaxExportRows + 1; }
        bool row(std::size_t, ContactRecord*) override {
            ++reads;
            return true;
        }
        int reads = 0;
    } huge;
    std::string error;
    EXPECT_FALSE(export_one(path("huge.xlsx"), huge, {}, &error));
    EXPECT_NE(error.find("1048575"), std::string::npos) << error;
    EXPECT_EQ(huge.reads, 0);
    EXPECT_TRUE(names_in(dir_).empty());
}

// A full disk, played by a file size limit in a child process: every write
// past the limit fails with EFBIG, as it would with ENOSPC.
TEST_F(XlsxExportFailureTest, AFullDiskIsReportedAndTheOldFileStays) {
    write_old_file("out.xlsx");
    std::string error;
    EXPECT_FALSE(export_with_file_size_limit(16384, 3000, &error)) << "the export claimed success";
    EXPECT_NE(error.find("out.xlsx"), std::string::npos) << error;
    EXPECT_NE(error.find("the disk may be full"), std::string::npos) << error;
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{"out.xlsx"});
    EXPECT_TRUE(file_contents(path("out.xlsx")) == "old contents");
}

// The library copies the rows into one more temporary file while it closes
// the workbook, without checking the writes. A limit just below that copy's
// size cuts off its end, and only reading the result back can tell.
TEST_F(XlsxExportFailureTest, AWorkbookCutShortWhileClosingIsCaught) {
    VectorSource source(some_rows(3000));
    std::string error;
    ASSERT_TRUE(export_one(path("whole.xlsx"), source, {}, &error)) << error;
    Child unzip({"/usr/bin/unzip", "-p", path("whole.xlsx"), "xl/worksheets/sheet1.xml"});
    ASSERT_EQ(unzip.wait(), 0);
    const std::size_t sheet_size = unzip.output().size();
    ASSERT_GT(sheet_size, 100000u);
    fs::remove(path("whole.xlsx"));

    write_old_file("out.xlsx");
    EXPECT_FALSE(export_with_file_size_limit(sheet_size - 40, 3000, &error))
        << "the export claimed success";
    EXPECT_NE(error.find("incomplete"), std::string::npos) << error;
    EXPECT_NE(error.find("sheet1.xml"), std::string::npos) << error;
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{"out.xlsx"});
    EXPECT_TRUE(file_contents(path("out.xlsx")) == "old contents");
}

TEST_F(XlsxExportFailureTest, ASuccessfulExportReplacesTheOldFileKeepingItsPermissions) {
    const mode_t mask = umask(022);
    umask(mask);
    VectorSource source(some_rows(2));
    std::string error;
    // A new file is as any new file; a private one replaced stays private.
    ASSERT_TRUE(export_one(path("new.xlsx"), source, {}, &error)) << error;
    write_old_file("out.xlsx");
    chmod(path("out.xlsx").c_str(), 0600);
    ASSERT_TRUE(export_one(path("out.xlsx"), source, {}, &error)) << error;
    EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"new.xlsx", "out.xlsx"}));
    WorkbookReader book;
    ASSERT_TRUE(book.read(path("out.xlsx"), &error)) << error;
    EXPECT_EQ(book.last_row(), 3);
    struct stat info {};
    ASSERT_EQ(stat(path("new.xlsx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
    ASSERT_EQ(stat(path("out.xlsx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(XlsxExportFailureTest, ASymbolicLinkIsWrittenThroughAndStaysALink) {
    fs::create_directories(dir_ / "real");
    write_old_file("real/target.xlsx");
    chmod(path("real/target.xlsx").c_str(), 0640);
    fs::create_symlink("real/target.xlsx", dir_ / "link.xlsx");
    fs::create_symlink("link.xlsx", dir_ / "chain.xlsx");
    VectorSource source(some_rows(2));
    std::string error;
    ASSERT_TRUE(export_one(path("chain.xlsx"), source, {}, &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.xlsx"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "chain.xlsx"));
    EXPECT_EQ(names_in(dir_ / "real"), std::vector<std::string>{"target.xlsx"});
    WorkbookReader book;
    ASSERT_TRUE(book.read(path("real/target.xlsx"), &error)) << error;
    EXPECT_EQ(book.last_row(), 3);
    struct stat info {};
    ASSERT_EQ(stat(path("real/target.xlsx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A loop of links is refused, and left as it was.
    fs::create_symlink("loop-b.xlsx", dir_ / "loop-a.xlsx");
    fs::create_symlink("loop-a.xlsx", dir_ / "loop-b.xlsx");
    EXPECT_FALSE(export_one(path("loop-a.xlsx"), source, {}, &error));
    EXPECT_TRUE(fs::is_symlink(dir_ / "loop-a.xlsx"));
}

TEST_F(XlsxExportFailureTest, TheNextExportRemovesWhatAKilledOneLeft) {
    // A process that has ended, as one killed with SIGKILL has.
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    const std::string dead = std::to_string(ended);
    const std::string alive = std::to_string(getpid());
    const std::vector<std::string> left = {
        ".out.xlsx." + dead + ".aB3xYz.tmp",   // of this name
        ".other.csv." + dead + ".Q1w2E3.tmp",  // of another export in the folder
    };
    const std::vector<std::string> kept = {
        ".running.xlsx." + alive + ".aB3xYz.tmp",  // a process that still runs
        ".old.xlsx.aB3xYz.tmp",                    // no process in the name
        "notes." + dead + ".aB3xYz.tmp",           // not hidden: not an export's
        ".x." + dead + ".tmp",                     // not of the pattern
    };
    for (const auto& names : {left, kept}) {
        for (const std::string& name : names) {
            std::ofstream(path(name)) << "half a workbook";
        }
    }
    VectorSource source(some_rows(1));
    std::string error;
    ASSERT_TRUE(export_one(path("out.xlsx"), source, {}, &error)) << error;
    std::vector<std::string> expected = kept;
    expected.push_back("out.xlsx");
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> names = names_in(dir_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
}

TEST_F(XlsxExportFailureTest, ARelativePathIsWrittenInTheCurrentFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    VectorSource source(some_rows(1));
    std::string error;
    const bool written = export_one("relative.xlsx", source, {}, &error);
    fs::current_path(before);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(names_in(dir_), std::vector<std::string>{"relative.xlsx"});
}

}  // namespace
}  // namespace qinglan
