#include "engine/member_card_parser.h"

#include <gtest/gtest.h>

#include "engine/page_text.h"
#include "services/charset.h"

namespace qinglan {
namespace {

const TextList kPrefixes = load_mobile_prefixes();

Text mobile_of_title(const std::string& title) {
    return extract_mobile("<html><title>" + title + "</title></html>", kPrefixes);
}

TEST(MobileRule, PrefixOrderAndDigits) {
    EXPECT_EQ(kPrefixes.size(), 27U);
    EXPECT_EQ(kPrefixes.front(), "130");
    EXPECT_EQ(kPrefixes.back(), "189");
    EXPECT_EQ(mobile_of_title(gbk("某公司 13955556666")), "13955556666");
    EXPECT_EQ(mobile_of_title("13955556666 13044445555"), "13044445555");
    EXPECT_EQ(mobile_of_title("tel 1385555"), "1385555");
    EXPECT_EQ(mobile_of_title("138-5555-6666"), "");
    // A prefix matches inside a longer run of digits.
    EXPECT_EQ(mobile_of_title("0571130123456789"), "13012345678");
    // The first occurrence of the winning prefix decides, even when it fails.
    EXPECT_EQ(mobile_of_title("130x 13012345678"), "");
    EXPECT_EQ(mobile_of_title(""), "");
    EXPECT_EQ(extract_mobile("<title>13955556666", kPrefixes), "");
    EXPECT_EQ(extract_mobile("", kPrefixes), "");
    EXPECT_EQ(extract_mobile("<title>13955556666</title>", {}), "");
}

TEST(WebsiteRule, WindowAfterTheKey) {
    EXPECT_EQ(extract_website(R"({"homePage":"[http://a.cn]","x":1})"), "http://a.cn");
    // The four bytes after the key are skipped whatever they are.
    EXPECT_EQ(extract_website(R"({"homePage":["http://a.cn"]})"), "http://a.cn\"");
    EXPECT_EQ(extract_website(R"({"homePage":"[]"})"), "");
    EXPECT_EQ(extract_website(R"({"homePage":"http://a.cn"})"), "");
    EXPECT_EQ(extract_website(R"({"x":"[a]"})"), "");
    EXPECT_EQ(extract_website("homePage"), "");
    const std::string far = R"({"homePage":"[)" + std::string(199, 'a') + "]";
    EXPECT_EQ(extract_website(far), std::string(199, 'a'));
    const std::string too_far = R"({"homePage":"[)" + std::string(200, 'a') + "]";
    EXPECT_EQ(extract_website(too_far), "");
}

TEST(CardPatterns, FirstMatchesAndTheContactName) {
    // The contact name needs a key beginning with "m" after it; otherwise
    // the group runs on to the first place where one follows.
    const std::string card =
        R"({"name":"Co","x":"1","name":"Zhang","title":"boss","name":"Li","memberId":"z","sex":"m","k":1})";
    const ContactRecord record = extract_contact_record(card, "", kPrefixes);
    EXPECT_EQ(record[kCompanyName], "Co");
    EXPECT_EQ(record[kContactName], R"(Zhang","title":"boss","name":"Li)");
    EXPECT_EQ(record[kAccount], "z");
    EXPECT_EQ(record[kPosition], "boss");
    EXPECT_EQ(record[kFormOfAddress], gbk("先生"));

    EXPECT_EQ(form_of_address("m"), gbk("先生"));
    for (const char* other : {"M", "f", "", "mm", " m"}) {
        EXPECT_EQ(form_of_address(other), gbk("女士")) << other;
    }
    // Keys written in another case are not found.
    const ContactRecord upper =
        extract_contact_record(R"({"Name":"Co","FAX":"1","x":1})", "", kPrefixes);
    EXPECT_EQ(upper[kCompanyName], "");
    EXPECT_EQ(upper[kFax], "");
}

TEST(CardPatterns, UnclosedKeysGiveEmptyFields) {
    // Keys that are never closed, over and over: nothing matches, and the
    // extraction must find that out without trying every key to the end.
    std::string card;
    while (card.size() < 400000) {
        card += R"("name":""sex":""fax":"")";
    }
    const ContactRecord record = extract_contact_record(card, "<title>" + card, kPrefixes);
    EXPECT_EQ(record[kCompanyName], "");
    EXPECT_EQ(record[kFax], "");
    EXPECT_EQ(record[kFormOfAddress], gbk("女士"));
    EXPECT_EQ(record[kMobile], "");
    // A closing literal only before the first opening one does not count.
    EXPECT_EQ(extract_contact_record(R"(",""name":"A)", "", kPrefixes)[kCompanyName], "");
    EXPECT_EQ(extract_contact_record(R"("name":"A","name":"B",")", "", kPrefixes)[kCompanyName],
              "A");
}

TEST(CardPatterns, EmptyDocumentsGiveEmptyFields) {
    std::vector<int> order;
    const ContactRecord record = extract_contact_record(
        "", "", kPrefixes, [&](int field, const Text&) { order.push_back(field); });
    ContactRecord expected;
    expected[kFormOfAddress] = gbk("女士");
    EXPECT_EQ(record, expected);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST(PageText, Utf8IsRecognisedByHeaderOrMeta) {
    EXPECT_TRUE(declares_utf8("", "text/html; charset=UTF-8"));
    EXPECT_TRUE(declares_utf8("", "application/json;charset=\"utf-8\""));
    EXPECT_TRUE(declares_utf8("", "text/html; charset=utf8"));
    EXPECT_FALSE(declares_utf8("", "text/html; charset=gbk"));
    EXPECT_FALSE(declares_utf8("", "text/html"));
    EXPECT_TRUE(declares_utf8("<html><META CHARSET='UTF-8'>", "text/html"));
    EXPECT_TRUE(declares_utf8(
        R"(<meta http-equiv="Content-Type" content="text/html; charset=utf-8" />)", ""));
    EXPECT_FALSE(declares_utf8("<meta charset=\"gb2312\">", ""));
    // The header wins over the page.
    EXPECT_FALSE(declares_utf8("<meta charset=\"utf-8\">", "text/html; charset=GBK"));
    EXPECT_TRUE(declares_utf8(std::string(1000, ' ') + "<meta charset=\"utf-8\">", ""));
    EXPECT_FALSE(declares_utf8(std::string(1024, ' ') + "<meta charset=\"utf-8\">", ""));
    EXPECT_FALSE(declares_utf8("<p>charset=utf-8</p>", ""));

    EXPECT_EQ(page_text("\xE6\x89\x8B\xE6\x9C\xBA", "text/plain; charset=utf-8"), gbk("手机"));
    EXPECT_EQ(page_text("\xCA\xD6\xBB\xFA", "text/plain"), "\xCA\xD6\xBB\xFA");
    // A zero byte ends nothing: the page is the whole body.
    EXPECT_EQ(page_text(std::string("ab\0cd", 5), ""), std::string("ab\0cd", 5));
}

TEST(ZeroBytes, LeftOutOfValuesAndEndNone) {
    const std::string zero(1, '\0');
    const std::string card = R"({"name":"Qing)" + zero + R"(Lan","x":1,)" + zero + R"("sex":"m)" +
                             zero + R"(","address":"A","homePage":"[http://q)" + zero +
                             R"(.cn]","x":1})";
    const std::string contact = zero + "<title>139" + zero + "55556666</title>";
    const ContactRecord record = extract_contact_record(card, contact, kPrefixes);
    EXPECT_EQ(record[kCompanyName], "QingLan");
    EXPECT_EQ(record[kFormOfAddress], gbk("先生"));
    EXPECT_EQ(record[kAddress], "A");
    EXPECT_EQ(record[kWebsite], "http://q.cn");
    EXPECT_EQ(record[kMobile], "13955556666");
    EXPECT_EQ(page_title(std::string("<title>a\0b</title>", 18)), "ab");
}

}  // namespace
}  // namespace qinglan
