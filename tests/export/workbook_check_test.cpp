// The read-back check that stands between a written workbook and its name.

#include "export/workbook_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "export/table_export.h"
#include "tests/app/child_process.h"
#include "tests/export/export_fixture.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;

class WorkbookCheckTest : public ExportFixture {
protected:
    void SetUp() override {
        ExportFixture::SetUp();
        std::vector<ContactRecord> rows;
        for (int i = 0; i < 500; ++i) {
            rows.push_back(VectorSource::record_for("行" + std::to_string(i)));
        }
        VectorSource source(rows);
        std::string error;
        ASSERT_TRUE(export_one(path("good.xlsx"), source, {}, &error)) << error;
    }

    // Rewrites one part of good.xlsx into `name` with the archive itself
    // intact, so only the content can tell.
    bool rewrite_part(const std::string& name, const std::string& part, const std::string& how) {
        Child python({"/usr/bin/python3", "-c",
                      "import sys, zipfile\n"
                      "source, target, part, how = sys.argv[1:5]\n"
                      "with zipfile.ZipFile(source) as old, zipfile.ZipFile(target, 'w',\n"
                      "        zipfile.ZIP_DEFLATED) as new:\n"
                      "    for item in old.infolist():\n"
                      "        data = old.read(item.filename)\n"
                      "        if item.filename == part:\n"
                      "            data = data[:len(data) - 200] if how == 'cut' else\\\n"
                      "                data.replace(b'</row>', b'</ro>', 1)\n"
                      "        new.writestr(item.filename, data)\n",
                      path("good.xlsx"), path(name), part, how});
        return python.wait() == 0;
    }
};

TEST_F(WorkbookCheckTest, AWholeWorkbookPasses) {
    std::string error;
    EXPECT_TRUE(check_workbook(path("good.xlsx"), {501}, &error)) << error;
}

TEST_F(WorkbookCheckTest, TheRowCountMustMatch) {
    std::string error;
    EXPECT_FALSE(check_workbook(path("good.xlsx"), {500}, &error));
    EXPECT_NE(error.find("501 rows instead of 500"), std::string::npos) << error;
}

TEST_F(WorkbookCheckTest, ATruncatedFileFails) {
    const auto size = fs::file_size(path("good.xlsx"));
    fs::copy_file(path("good.xlsx"), path("short.xlsx"));
    fs::resize_file(path("short.xlsx"), size - 100);
    std::string error;
    EXPECT_FALSE(check_workbook(path("short.xlsx"), {501}, &error));
    fs::resize_file(path("short.xlsx"), size / 2);
    EXPECT_FALSE(check_workbook(path("short.xlsx"), {501}, &error));
}

TEST_F(WorkbookCheckTest, ACorruptedPartFails) {
    std::fstream file(path("good.xlsx"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(fs::file_size(path("good.xlsx")) / 3));
    file.put('\x55').put('\xAA').put('\x55');
    file.close();
    std::string error;
    EXPECT_FALSE(check_workbook(path("good.xlsx"), {501}, &error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
}

TEST_F(WorkbookCheckTest, APartCutShortInsideASoundArchiveFails) {
    ASSERT_TRUE(rewrite_part("cut-sheet.xlsx", "xl/worksheets/sheet1.xml", "cut"));
    std::string error;
    EXPECT_FALSE(check_workbook(path("cut-sheet.xlsx"), {501}, &error));
    EXPECT_NE(error.find("sheet1.xml"), std::string::npos) << error;
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;

    ASSERT_TRUE(rewrite_part("cut-styles.xlsx", "xl/styles.xml", "cut"));
    EXPECT_FALSE(check_workbook(path("cut-styles.xlsx"), {501}, &error));
    EXPECT_NE(error.find("styles.xml"), std::string::npos) << error;

    // The rewriting itself keeps a workbook whole.
    ASSERT_TRUE(rewrite_part("lost-row.xlsx", "xl/worksheets/sheet1.xml", "row"));
    EXPECT_FALSE(check_workbook(path("lost-row.xlsx"), {501}, &error));
    EXPECT_NE(error.find("500 rows instead of 501"), std::string::npos) << error;
}

TEST_F(WorkbookCheckTest, WhatIsNoArchiveFails) {
    std::ofstream(path("text.xlsx")) << "this is not a workbook";
    std::string error;
    EXPECT_FALSE(check_workbook(path("text.xlsx"), {1}, &error));
    EXPECT_FALSE(check_workbook(path("missing.xlsx"), {1}, &error));
    EXPECT_NE(error.find("missing.xlsx"), std::string::npos) << error;
}

}  // namespace
}  // namespace qinglan
