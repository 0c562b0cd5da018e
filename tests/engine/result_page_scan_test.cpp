#include "engine/result_page_scan.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/page_text.h"

namespace qinglan {
namespace {

TEST(ScanMemberAccounts, CutsAccountsInPageOrder) {
    EXPECT_EQ(scan_member_accounts(R"(<a href="x?companyId="abcdef">)"), TextList{"abcdef"});
    EXPECT_EQ(scan_member_accounts(R"(.. companyId="a" companyId="b" companyId="a" companyId="a")"),
              (TextList{"a", "b", "a", "a"}));
    // Any byte after the mark is skipped, not only a quote.
    EXPECT_EQ(scan_member_accounts(R"(xcompanyId=Xabc")"), TextList{"abc"});
    EXPECT_EQ(scan_member_accounts(""), TextList{});
    EXPECT_EQ(scan_member_accounts("no marks here"), TextList{});
    EXPECT_EQ(scan_member_accounts(R"(xCompanyId="abc")"), TextList{});
}

TEST(ScanMemberAccounts, WindowOfFiftyBytes) {
    const std::string a49(49, 'a');
    const std::string a50(50, 'a');
    EXPECT_EQ(scan_member_accounts("xcompanyId=\"" + a49 + "\""), TextList{a49});
    EXPECT_EQ(scan_member_accounts("xcompanyId=\"" + a50 + "\""), TextList{});
    EXPECT_EQ(scan_member_accounts("xcompanyId=\"\"rest\""), TextList{});
    EXPECT_EQ(scan_member_accounts("xcompanyId="), TextList{});
    EXPECT_EQ(scan_member_accounts("xcompanyId=\""), TextList{});
    EXPECT_EQ(scan_member_accounts("xcompanyId=\"abc"), TextList{});
    // A skipped mark does not stop the scan.
    EXPECT_EQ(scan_member_accounts("xcompanyId=\"" + a50 + "\" companyId=\"b\""), TextList{"b"});
}

TEST(ScanMemberAccounts, MarkPositions) {
    // The first search starts at byte 2, so a mark at byte 1 is not found.
    EXPECT_EQ(scan_member_accounts(R"(companyId="abc")"), TextList{});
    EXPECT_EQ(scan_member_accounts(R"( companyId="abc")"), TextList{"abc"});
    // Marks inside the previous account's window are found as well.
    EXPECT_EQ(scan_member_accounts(R"(xcompanyId=1companyId="b")"), (TextList{"companyId=", "b"}));
    // A mark only counts on a character boundary.
    EXPECT_EQ(scan_member_accounts("x\xB0"
                                   "companyId=\"abc\""),
              TextList{});
    EXPECT_EQ(scan_member_accounts("x\xB0\xA1"
                                   "companyId=\"\xCA\xD6\""),
              TextList{"\xCA\xD6"});
}

TEST(ScanMemberAccounts, ZeroBytesEndNeitherThePageNorAnAccount) {
    const std::string page("<p> companyId=\"a\"\0 companyId=\"b\0c\" companyId=\"\0\"", 48);
    EXPECT_EQ(scan_member_accounts(page_text(page, "text/html")), (TextList{"a", "bc"}));
}

}  // namespace
}  // namespace qinglan
