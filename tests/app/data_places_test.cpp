// Where the data and the settings go: beside a program run from its build
// tree, in the user's XDG folders when it is installed, in --data-dir when
// one is given; and the shipped site profiles found by name.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/data_places.h"
#include "app/options.h"
#include "app/queue_profile.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

const UserFolders kHome{"/home/u", "", ""};

TEST(DataPlaces, ABuildTreeKeepsEverythingBesideTheProgram) {
    TempFolder tree("places_tree");
    const std::string run_dir = tree.str() + "/app";
    std::filesystem::create_directories(run_dir);
    const DataPlaces places = data_places(run_dir, std::nullopt, {"/home/u", "/x", "/y"});
    EXPECT_EQ(places.data_dir, run_dir);
    EXPECT_EQ(places.settings_file, run_dir + "/qinglan.ini");
    EXPECT_EQ(places.shared_dir, "");
}

TEST(DataPlaces, InstalledTheUsersFoldersHoldDataAndSettings) {
    TempFolder prefix("places_installed");
    std::filesystem::create_directories(prefix.path() / "share" / "qinglan");
    const std::string run_dir = prefix.str() + "/bin";
    std::filesystem::create_directories(run_dir);

    DataPlaces places = data_places(run_dir, std::nullopt, kHome);
    EXPECT_EQ(places.data_dir, "/home/u/.local/share/qinglan");
    EXPECT_EQ(places.settings_file, "/home/u/.config/qinglan/qinglan.ini");
    EXPECT_EQ(places.shared_dir, prefix.str() + "/share/qinglan");

    places = data_places(run_dir, std::nullopt, {"/home/u", "/data", "/config"});
    EXPECT_EQ(places.data_dir, "/data/qinglan");
    EXPECT_EQ(places.settings_file, "/config/qinglan/qinglan.ini");
    // A relative base directory is not one: the defaults stand.
    places = data_places(run_dir, std::nullopt, {"/home/u", "data", "config"});
    EXPECT_EQ(places.data_dir, "/home/u/.local/share/qinglan");
    EXPECT_EQ(places.settings_file, "/home/u/.config/qinglan/qinglan.ini");

    // --data-dir wins, and holds the settings too.
    places = data_places(run_dir, std::string("/d"), {"/home/u", "/data", "/config"});
    EXPECT_EQ(places.data_dir, "/d");
    EXPECT_EQ(places.settings_file, "/d/qinglan.ini");
    EXPECT_EQ(places.shared_dir, prefix.str() + "/share/qinglan");
}

TEST(DataPlaces, InstalledTheShippedSiteProfilesAreFoundByName) {
    TempFolder prefix("places_sites");
    const auto sites = prefix.path() / "share" / "qinglan" / "sites";
    std::filesystem::create_directories(sites);
    std::ofstream(sites / "shop.ini") << "[site]\n";
    const std::string shared = (prefix.path() / "share" / "qinglan").string();
    const std::string shipped = (sites / "shop.ini").string();

    EXPECT_EQ(find_site_profile("shop.ini", shared), shipped);
    EXPECT_EQ(find_site_profile("sites/shop.ini", shared), shipped);
    // Not installed, or a file that is there, or none shipped: as given.
    EXPECT_EQ(find_site_profile("shop.ini", ""), "shop.ini");
    EXPECT_EQ(find_site_profile(shipped, shared), shipped);
    EXPECT_EQ(find_site_profile("other.ini", shared), "other.ini");

    // A keyword queued under the shipped profile carries that file's text.
    Options options;
    options.site_file = "shop.ini";
    options.shared_dir = shared;
    std::string name, text, error;
    ASSERT_TRUE(queue_profile(options, &name, &text, &error)) << error;
    EXPECT_EQ(text, "[site]\n");
}

}  // namespace
}  // namespace qinglan
