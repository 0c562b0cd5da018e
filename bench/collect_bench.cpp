// The cost of the collection's own work per member, apart from the network:
// extracting one record from a member card and a contact page, and storing
// one record in the database.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/member_card_parser.h"
#include "services/charset.h"
#include "storage/sqlite_store.h"

namespace {

const std::string kCard = qinglan::gbk(
    R"(jQuery16405435396444518119_1324703458289({"success":true,"data":{"name":"杭州青岚贸易有限公司",)"
    R"("address":"浙江省杭州市西湖区文三路1号","zipCode":"310000","homePage":"[http://www.qinglan-demo.cn]",)"
    R"("telephone":"0571-88886666","fax":"0571-88886667","department":"销售部","title":"经理","sex":"m",)"
    R"("name":"张三","memberId":"alpha","userId":"1001","memberLevel":"gold","isTP":true}}))");
const std::string kContact = qinglan::gbk(
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
    "<title>杭州青岚贸易有限公司 13955556666</title></head><body>" +
    std::string(6000, 'x') + "</body></html>");

void BM_ExtractRecord(benchmark::State& state) {
    const qinglan::TextList prefixes = qinglan::load_mobile_prefixes();
    for (auto _ : state) {
        auto record = qinglan::extract_contact_record(kCard, kContact, prefixes);
        benchmark::DoNotOptimize(record.data());
    }
}
BENCHMARK(BM_ExtractRecord)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Extraction plus what the engine adds: UTF-8 for the record it reports and stores.
void BM_ExtractRecordToUtf8(benchmark::State& state) {
    const qinglan::TextList prefixes = qinglan::load_mobile_prefixes();
    for (auto _ : state) {
        qinglan::ContactRecord record;
        qinglan::extract_contact_record(
            kCard, kContact, prefixes, [&](int field, const qinglan::Text& value) {
                record[static_cast<std::size_t>(field)] = qinglan::gbk_to_utf8(value);
            });
        benchmark::DoNotOptimize(record.data());
    }
}
BENCHMARK(BM_ExtractRecordToUtf8)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_InsertRecord(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("qinglan-insert-bench-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::string error;
    auto store = qinglan::SqliteStore::open(dir.string(), &error);
    if (!store || !store->ensure_table("手机", &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    qinglan::ContactRecord record = {"杭州青岚贸易有限公司",
                                     "张三",
                                     "alpha",
                                     "销售部",
                                     "经理",
                                     "先生",
                                     "0571-88886666",
                                     "0571-88886667",
                                     "13955556666",
                                     "浙江省杭州市西湖区文三路1号",
                                     "310000",
                                     "http://www.qinglan-demo.cn"};
    for (auto _ : state) {
        if (!store->insert_record("手机", record, -1, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    store.reset();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_InsertRecord)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
