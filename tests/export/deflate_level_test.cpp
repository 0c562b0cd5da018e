// The workbook's parts are packed at zlib's fastest level while the writer
// closes it, and every other deflate stream keeps the level it asks for.

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cmath>
#include <string>
#include <thread>

#include "export/deflate_level.h"
#include "tests/temp_folder.h"

namespace qinglan {
namespace {

// `text` deflated by a stream that asks for `level`.
std::string deflated(const std::string& text, int level) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string sheet_like_text() {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "<c r=\"A" + std::to_string(i) + "\" s=\"1\" t=\"inlineStr\"><is><t>公司" +
                std::to_string(i * 7919 % 1000) + "</t></is></c>";
    }
    return text;
}

// The packed size of `text` in a zip archive that another library writes,
// asking for zlib's best compression.
long long packed_by_libzip(const std::string& text, const std::filesystem::path& file) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(archive, nullptr);
    zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
    const zip_int64_t index = zip_file_add(archive, "sheet.xml", source, ZIP_FL_OVERWRITE);
    EXPECT_GE(index, 0);
    EXPECT_EQ(
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 9), 0);
    EXPECT_EQ(zip_close(archive), 0);
    archive = zip_open(file.c_str(), ZIP_RDONLY, &error);
    zip_stat_t stat;
    EXPECT_EQ(zip_stat_index(archive, 0, 0, &stat), 0);
    zip_discard(archive);
    return static_cast<long long>(stat.comp_size);
}

TEST(DeflateLevelTest, AppliesToTheChoosingThreadWhileItLasts) {
    const std::string text = sheet_like_text();
    const std::string best = deflated(text, Z_BEST_COMPRESSION);
    const std::string fastest = deflated(text, Z_BEST_SPEED);
    ASSERT_NE(best, fastest);
    {
        const DeflateLevel level(Z_BEST_SPEED);
        EXPECT_EQ(deflated(text, Z_BEST_COMPRESSION), fastest);
        std::string elsewhere;
        std::thread other([&] { elsewhere = deflated(text, Z_BEST_COMPRESSION); });
        other.join();
        EXPECT_EQ(elsewhere, best);
    }
    EXPECT_EQ(deflated(text, Z_BEST_COMPRESSION), best);
}

TEST(DeflateLevelTest, ReachesTheStreamsOfOtherLibraries) {
    // libxlsxwriter packs its parts through another library, as libzip does here.
    TempFolder folder("deflate_level");
    const std::string text = sheet_like_text();
    const long long best = packed_by_libzip(text, folder.path() / "best.zip");
    long long fastest = 0;
    {
        const DeflateLevel level(Z_BEST_SPEED);
        fastest = packed_by_libzip(text, folder.path() / "fastest.zip");
    }
    // libzip feeds zlib in its own pieces, so the sizes match only nearly.
    const auto near = [](long long packed, const std::string& expected) {
        const auto size = static_cast<double>(expected.size());
        return std::abs(static_cast<double>(packed) - size) < size / 100;
    };
    EXPECT_TRUE(near(fastest, deflated(text, Z_BEST_SPEED))) << fastest;
    EXPECT_TRUE(near(best, deflated(text, Z_BEST_COMPRESSION))) << best;
}

}  // namespace
}  // namespace qinglan
