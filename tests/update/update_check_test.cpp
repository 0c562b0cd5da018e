#include "update/update_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "services/charset.h"
#include "services/fetch.h"
#include "tests/temp_folder.h"
#include "tools/sample_marketplace.h"

namespace qinglan {
namespace {

namespace fs = std::filesystem;

TEST(TextBetween, FirstLeftThenFirstRight) {
    EXPECT_EQ(text_between("a:1|b:2|", "b:", "|"), "2");
    EXPECT_EQ(text_between("a:1|a:2|", "a:", "|"), "1");
    EXPECT_EQ(text_between("a:|", "a:", "|"), "");
    EXPECT_EQ(text_between("a:1", "a:", "|"), "");
    EXPECT_EQ(text_between("x|a:1", "a:", "|"), "");
    EXPECT_EQ(text_between("b:2|", "a:", "|"), "");
    EXPECT_EQ(text_between("a:line1\r\nline2|", "a:", "|"), "line1\r\nline2");
}

TEST(UpdateDescriptor, FieldsInAnyOrder) {
    const UpdateDescriptor descriptor = parse_update_descriptor(
        gbk("手动下载:http://m/|junk 版本:v0.1|版本说明:修正\r\n问题|更新地址:http://u/|"));
    EXPECT_EQ(descriptor.version, "v0.1");
    EXPECT_EQ(descriptor.update_address, "http://u/");
    EXPECT_EQ(descriptor.description, gbk("修正\r\n问题"));
    EXPECT_EQ(descriptor.manual_download, "http://m/");
    EXPECT_FALSE(announces_update(descriptor));

    for (const char* other : {"版本:V0.1|", "版本:v0.1 |", "版本:v0.1", "版本:v0.1 更新地址:x|",
                              "版本：v0.1|", "版本:v0.2|", "版本:|"}) {
        EXPECT_TRUE(announces_update(parse_update_descriptor(gbk(other)))) << other;
    }
}

class UpdateFolder : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_ / "up"); }
    TempFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    const fs::path dir_ = folder_.path();
};

TEST_F(UpdateFolder, HandOverFileHoldsTheSevenItemsInOrder) {
    // An item already there is overwritten, others are kept.
    std::ofstream(dir_ / "up" / "up.ini") << "[other]\nkey=kept\n";
    const UpdateDescriptor descriptor{"v0.2", "http://u/", gbk("新版"), "http://m/"};
    ASSERT_TRUE(write_handover_file(dir_.string(), "qinglan", descriptor));
    EXPECT_EQ(file_contents(dir_ / "up" / "up.ini"), gbk("[other]\nkey=kept\n"
                                                         "[手动更新]\n手动更新=http://m/\n"
                                                         "[版本号]\n版本号=v0.2\n"
                                                         "[更新路径]\n版本更新地址=http://u/\n"
                                                         "[版本说明]\n更新版本说明=新版\n"
                                                         "[软件运行目录]\n软件运行目录=" +
                                                         dir_.string() +
                                                         "/\n"
                                                         "[软件名]\n软件名称=qinglan\n"
                                                         "[更新确定]\n更新确定=1\n"));
    EXPECT_EQ(updater_path(dir_.string()), (dir_ / "up" / "up").string());

    fs::remove_all(dir_ / "up");
    EXPECT_FALSE(write_handover_file(dir_.string(), "qinglan", descriptor));
}

// What the windows make of the server's answer to `address`.
Text answer_from(const std::string& address) {
    FetchInfo info;
    const Bytes body = fetch_page(address, nullptr, &info);
    return answer_text(body, info);
}

TEST(UpdateServer, NoticeAndDescriptor) {
    SampleMarketplace server;
    ASSERT_TRUE(server.start());
    set_fetch_settings({.connect_seconds = 5, .stall_seconds = 5, .retry_base_ms = 10});
    const std::string host = server.search_host();

    // No host: nothing is asked for.
    EXPECT_EQ(notice_address(""), "");
    EXPECT_EQ(descriptor_address(""), "");
    EXPECT_EQ(notice_address(host), "http://" + host + "/123.txt");
    EXPECT_EQ(descriptor_address("https://" + host), "https://" + host + "/up.txt");
    // Nothing served: the error page is neither a notice nor a descriptor.
    EXPECT_EQ(answer_from(notice_address(host)), "");
    EXPECT_FALSE(descriptor_of(answer_from(descriptor_address(host))));

    server.set_resource("123.txt", gbk("第一行\r\n第二行"));
    server.set_resource("up.txt", "");
    EXPECT_EQ(answer_from(notice_address(host)), gbk("第一行\r\n第二行"));
    EXPECT_EQ(answer_from(notice_address("http://" + host)), gbk("第一行\r\n第二行"));
    EXPECT_FALSE(descriptor_of(answer_from(descriptor_address(host))));

    // Ten MiB of labels without a single "|": every value is empty.
    std::string endless;
    while (endless.size() < (10u << 20)) {
        endless += gbk("版本:v0.1 更新地址:");
    }
    server.set_resource("up.txt", endless);
    const auto unterminated = descriptor_of(answer_from(descriptor_address(host)));
    ASSERT_TRUE(unterminated);
    EXPECT_EQ(unterminated->version, "");
    EXPECT_EQ(unterminated->update_address, "");
    EXPECT_TRUE(announces_update(*unterminated));

    server.set_resource("up.txt", gbk("版本:v0.3|更新地址:http://u/|"));
    const auto descriptor = descriptor_of(answer_from(descriptor_address(host)));
    ASSERT_TRUE(descriptor);
    EXPECT_TRUE(announces_update(*descriptor));
    EXPECT_EQ(descriptor->update_address, "http://u/");
    set_fetch_settings({});
}

}  // namespace
}  // namespace qinglan
