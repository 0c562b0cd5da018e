// The settings table: every setting read the same from the command line,
// from qinglan.ini and from the dialog's texts, and written back as read.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/settings_file.h"
#include "app/settings_table.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

// A value for each setting of the file other than its default, each one
// its rule accepts.
std::map<std::string, std::string> other_values() {
    return {{"search_host", "s.localhost:81"},
            {"member_host", "https://m.localhost"},
            {"contact_domain", "c.localhost:83"},
            {"update_host", "u.localhost:84"},
            {"stall_timeout", "61"},
            {"slow_timeout", "31"},
            {"page_timeout", "121"},
            {"max_page_size", "32"},
            {"page_budget", "64"},
            {"retries", "0"},
            {"parallel", "1"},
            {"connections", "17"},
            {"per_host", "9"},
            {"delay", "20"},
            {"proxy", "socks5h://p.localhost:1080"},
            {"proxy_user", "someone"},
            {"proxy_password", "pr:xy@pw"},
            {"cookies", "/nowhere/cookies.txt"},
            {"profile", "/nowhere/site.ini"},
            {"url", "postgresql://db.localhost:5432/team"},
            {"user", "team"},
            {"password", "db pass"}};
}

bool parse(std::vector<std::string> arguments, Options* options, std::string* error) {
    arguments.insert(arguments.begin(), "qinglan");
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    return parse_options(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(SettingsTable, KeysAndOptionsAreUniqueAndFloorsComeFirst) {
    std::set<std::string_view> keys;
    std::set<std::string_view> options;
    std::set<std::string_view> seen_numbers;
    for (const Setting& setting : settings_table()) {
        if (!setting.section.empty()) {
            EXPECT_TRUE(keys.insert(setting.key).second) << setting.key;
            EXPECT_NE(setting.group, Group::kNone) << setting.key << " is not in the dialog";
            EXPECT_FALSE(setting.label.empty()) << setting.key;
        }
        if (!setting.option.empty()) {
            EXPECT_TRUE(options.insert(setting.option).second) << setting.option;
        }
        // A floor is taken before the number it bounds.
        if (!setting.rule.floor.empty()) {
            EXPECT_TRUE(seen_numbers.count(setting.rule.floor)) << setting.key;
        }
        if (setting.rule.kind == Rule::kNumber) {
            seen_numbers.insert(setting.key);
        }
    }
    EXPECT_EQ(keys.size(), other_values().size());
}

TEST(SettingsTable, DefaultsPassTheirOwnRules) {
    Options options;
    for (const Setting& setting : settings_table()) {
        std::string error;
        EXPECT_TRUE(take_setting(setting, GivenText{std::string(setting.default_text), "default"},
                                 &options, &error))
            << setting.option << setting.key << ": " << error;
    }
    // What a new Options holds is the table's defaults.
    for (const auto& [key, text] : setting_texts(Options())) {
        EXPECT_EQ(text, find_setting_by_key(key)->default_text) << key;
    }
}

TEST(SettingsTable, FileCommandLineAndTextsAgree) {
    TempFolder folder("settings_agree");
    const std::map<std::string, std::string> values = other_values();
    std::string error;
    ASSERT_TRUE(write_setting_texts(folder.str() + "/qinglan.ini", values, &error)) << error;

    // Read back from the file.
    Options from_file;
    ASSERT_TRUE(parse({"--data-dir", folder.str()}, &from_file, &error)) << error;
    EXPECT_EQ(setting_texts(from_file), values);

    // The same values as options, over a file of defaults.
    TempFolder empty("settings_agree_options");
    std::vector<std::string> arguments = {"--data-dir", empty.str()};
    for (const Setting& setting : settings_table()) {
        if (!setting.section.empty() && !setting.option.empty()) {
            arguments.push_back(std::string(setting.option) + "=" +
                                values.at(std::string(setting.key)));
        }
    }
    Options from_options;
    ASSERT_TRUE(parse(arguments, &from_options, &error)) << error;
    std::map<std::string, std::string> expected = values;
    for (const char* login : {"proxy_user", "proxy_password", "user", "password"}) {
        expected[login] = "";  // only the file holds a login
    }
    EXPECT_EQ(setting_texts(from_options), expected);

    // And as the dialog's texts.
    Options from_texts;
    from_texts.data_dir = empty.str();
    ASSERT_TRUE(apply_setting_texts(values, &from_texts, &error)) << error;
    EXPECT_EQ(setting_texts(from_texts), values);
}

TEST(SettingsTable, ABadValueIsNamedWhereItCameFrom) {
    TempFolder folder("settings_where");
    const std::string ini = folder.str() + "/qinglan.ini";
    std::string error;
    ASSERT_TRUE(write_setting_texts(ini, {{"retries", "11"}}, &error)) << error;
    Options options;
    EXPECT_FALSE(parse({"--data-dir", folder.str()}, &options, &error));
    EXPECT_EQ(error, "retries in " + ini + " takes a number of tries from 0 to 10");
    // The option wins over the file, and is named when it is the bad one.
    EXPECT_TRUE(parse({"--data-dir", folder.str(), "--retries", "2"}, &options, &error));
    EXPECT_EQ(options.fetch.retries, 2);
    EXPECT_FALSE(parse({"--data-dir", folder.str(), "--retries=x"}, &options, &error));
    EXPECT_EQ(error, "--retries takes a number of tries from 0 to 10");
    Options texts;
    texts.data_dir = folder.str();
    EXPECT_FALSE(apply_setting_texts({{"retries", "-1"}}, &texts, &error));
    EXPECT_EQ(error, "retries takes a number of tries from 0 to 10");
    EXPECT_EQ(texts.fetch.retries, Options().fetch.retries);  // unchanged
}

TEST(SettingsTable, ABudgetSetNowhereGrowsWithThePageCap) {
    TempFolder folder("settings_budget");
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--data-dir", folder.str(), "--max-page-size", "512"}, &options, &error))
        << error;
    EXPECT_EQ(options.fetch.page_budget_bytes, std::size_t{512} << 20);
    EXPECT_FALSE(
        parse({"--data-dir", folder.str(), "--max-page-size", "512", "--page-budget", "256"},
              &options, &error));
    EXPECT_EQ(error, "--page-budget takes a number of MiB from max_page_size (512) to 65536");
}

TEST(SettingsTable, OfSeveralBadValuesTheSameOneIsNamed) {
    TempFolder folder("settings_several");
    Options options;
    std::string error;
    // Any empty host before any host's form; the database before the hosts.
    EXPECT_FALSE(parse({"--data-dir", folder.str(), "--search-host", "a/b", "--member-host", ""},
                       &options, &error));
    EXPECT_EQ(error, "a marketplace host is empty");
    EXPECT_FALSE(parse({"--data-dir", folder.str(), "--search-host", "", "--database", "mysql://x"},
                       &options, &error));
    EXPECT_EQ(error, "the database URL must begin with postgresql:// or postgres://");
    // Every number before a number's floor; the floor before the proxy.
    EXPECT_FALSE(parse({"--data-dir", folder.str(), "--page-budget", "8", "--delay", "60001"},
                       &options, &error));
    EXPECT_EQ(error, "--delay takes a number of milliseconds from 0 to 60000");
    EXPECT_FALSE(parse({"--data-dir", folder.str(), "--page-budget", "8", "--proxy", "ftp://p:1"},
                       &options, &error));
    EXPECT_EQ(error, "--page-budget takes a number of MiB from max_page_size (16) to 65536");
}

}  // namespace
}  // namespace qinglan
