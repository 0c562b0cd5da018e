// Times one export of generated contact rows and reports the time and the
// process's peak memory. The rows are made on demand from their index, so
// the figure is the exporter's own memory, not a table held beside it;
// bench/export_rows.py makes the very same rows for the comparison.
//
// With KEYWORDS, the rows are those of KEYWORDS keywords of ROWS rows each,
// merged into one table: keyword k holds rows k * ROWS / 2 to
// k * ROWS / 2 + ROWS - 1, so half of its members turned up under the
// keyword before, as members of related keywords do.
//
// Usage: export_bench ROWS FILE [KEYWORDS]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/table_export.h"

namespace {

using qinglan::ContactRecord;

const char* const kSurnames[] = {"张", "王", "李", "赵", "刘", "陈", "杨", "黄", "周", "吴"};
const char* const kGivenNames[] = {"伟", "芳", "娜", "敏", "静", "丽",
                                   "强", "磊", "军", "洋", "勇", "艳"};
struct City {
    const char* name;
    const char* district;
    const char* area_code;
    const char* postal_code;
    const char* account_prefix;
};
const City kCities[] = {
    {"杭州", "浙江省杭州市西湖区", "0571", "310000", "hz"},
    {"宁波", "浙江省宁波市鄞州区", "0574", "315000", "nb"},
    {"深圳", "广东省深圳市南山区", "0755", "518000", "sz"},
    {"广州", "广东省广州市天河区", "020", "510000", "gz"},
    {"苏州", "江苏省苏州市工业园区", "0512", "215000", "su"},
    {"义乌", "浙江省金华市义乌市", "0579", "322000", "yw"},
};
const char* const kTrades[] = {"电子科技", "服装",   "五金制品", "塑料包装", "纺织品",
                               "机械设备", "化妆品", "玩具",     "家具",     "食品"};
const char* const kStreets[] = {"文三路", "解放路", "深南大道", "天河路", "星湖街", "福田路"};
const char* const kDepartments[] = {"销售部", "外贸部", "市场部", "采购部", "总经理办公室", ""};
const char* const kPositions[] = {"经理", "总经理", "销售经理", "业务员", "主管", ""};

std::string format(const char* pattern, auto... values) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, values...);
    return buffer;
}

void make_row(std::size_t i, ContactRecord* out) {
    const City& city = kCities[i % 6];
    const std::string contact = std::string(kSurnames[i % 10]) + kGivenNames[(i / 10) % 12];
    const std::string account = format("%s%06zu", city.account_prefix, i);
    auto& r = *out;
    r[0] = std::string(city.name) + contact.substr(0, 3) + kTrades[(i / 6) % 10] + "有限公司";
    r[1] = contact;
    r[2] = account;
    r[3] = kDepartments[i % 6];
    r[4] = kPositions[(i / 3) % 6];
    r[5] = i % 2 == 0 ? "先生" : "女士";
    r[6] = format("%s-%08zu", city.area_code, 80000000 + (i * 7919) % 10000000);
    r[7] = i % 5 == 0 ? "" : format("%s-%08zu", city.area_code, 80000001 + (i * 7919) % 10000000);
    r[8] = format("1%zu%09zu", 3 + i % 6, (i * 104729) % 1000000000);
    r[9] = format("%s%s%zu号", city.district, kStreets[i % 6], i % 999 + 1);
    r[10] = city.postal_code;
    r[11] = i % 4 == 0 ? "" : "http://" + account + ".cn.alibaba.com";
}

class GeneratedRows final : public qinglan::RowSource {
public:
    GeneratedRows(std::size_t first, std::size_t count) : first_(first), count_(count) {}
    std::size_t row_count() override { return count_; }
    bool row(std::size_t index, ContactRecord* out) override {
        make_row(first_ + index, out);
        return true;
    }

private:
    std::size_t first_;
    std::size_t count_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: export_bench ROWS FILE [KEYWORDS]\n");
        return 2;
    }
    const std::size_t rows = std::strtoull(argv[1], nullptr, 10);
    const bool merge = argc == 4;
    const std::size_t keyword_count = merge ? std::strtoull(argv[3], nullptr, 10) : 1;
    std::vector<GeneratedRows> sources;
    for (std::size_t k = 0; k < keyword_count; ++k) {
        sources.emplace_back(k * rows / 2, rows);
    }
    std::vector<qinglan::ExportKeyword> keywords;
    for (std::size_t k = 0; k < keyword_count; ++k) {
        keywords.push_back({"关键词" + std::to_string(k + 1), &sources[k]});
    }
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    auto rows_done = start;
    bool all_rows = false;
    qinglan::ExportReport report;
    const bool written = qinglan::export_keywords(
        argv[2], keywords, merge,
        [&](std::size_t done, std::size_t total) {
            if (done == total && !all_rows) {
                rows_done = std::chrono::steady_clock::now();
                all_rows = true;
            }
            return true;
        },
        &report, &error);
    const auto end = std::chrono::steady_clock::now();
    const std::chrono::duration<double> seconds = end - start;
    // Until the last row was handed on; the rest is the finishing of the workbook.
    const std::chrono::duration<double> row_seconds = rows_done - start;
    if (!written) {
        std::fprintf(stderr, "export_bench: %s\n", error.c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rows %zu seconds %.3f peak_rss_mib %.1f rows_part %.3f duplicates %zu\n",
                report.rows, seconds.count(), static_cast<double>(usage.ru_maxrss) / 1024.0,
                row_seconds.count(), report.duplicates);
    return 0;
}
