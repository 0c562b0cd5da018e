// Speed of the text work on a search page: the whole scan of a 1 MiB page
// with 5,000 members, find_text over 1 MiB, and keyword encoding.

#include <benchmark/benchmark.h>

#include <string>

#include "engine/request.h"
#include "engine/result_page_scan.h"
#include "services/text.h"

namespace {

// A page of 1 MiB: GBK text and markup with `marks` member links spread evenly.
std::string make_page(int marks) {
    const std::string filler_unit = "<div class=\"c\">\xCA\xD6\xBB\xFA\xC5\xFA\xB7\xA2 abc</div>";
    std::string page;
    page.reserve(1 << 20);
    const std::size_t per_mark = (1u << 20) / static_cast<std::size_t>(marks);
    for (int i = 0; i < marks; ++i) {
        const std::size_t start = page.size();
        page += "<a href=\"http://x/?companyId=\"member" + std::to_string(i) + "\">";
        while (page.size() - start + filler_unit.size() < per_mark) {
            page += filler_unit;
        }
    }
    page.resize(1 << 20, ' ');
    return page;
}

void BM_ScanSearchPage(benchmark::State& state) {
    const std::string page = make_page(5000);
    std::size_t found = 0;
    for (auto _ : state) {
        const auto accounts = qinglan::scan_member_accounts(page);
        found = accounts.size();
        benchmark::DoNotOptimize(accounts.data());
    }
    state.counters["accounts"] = static_cast<double>(found);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_ScanSearchPage)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_FindTextOneMiB(benchmark::State& state) {
    // Mixed GBK and ASCII with the sought text only at the very end.
    std::string text = make_page(1);
    text.replace(text.size() - 8, 8, "homePage");
    for (auto _ : state) {
        benchmark::DoNotOptimize(qinglan::find_text(text, "homePage"));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_FindTextOneMiB)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_EncodeKeyword(benchmark::State& state) {
    const std::string keyword = "\xCA\xD6\xBB\xFA\xC5\xE4\xBC\xFE abc";
    for (auto _ : state) {
        benchmark::DoNotOptimize(qinglan::encode_keyword(keyword));
    }
}
BENCHMARK(BM_EncodeKeyword)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
