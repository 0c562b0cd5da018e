// One fetch_page of a 10 KiB page from the sample marketplace on loopback,
// against the plainest libcurl GET of the same address, to keep the cost of
// what fetch_page adds (shared cookies and DNS, its options and callbacks) in
// view. Prints the ratio of the two medians at the end.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "services/fetch.h"
#include "tools/sample_marketplace.h"

namespace {

constexpr std::size_t kPageBytes = 10 * 1024;

std::string page_address;

size_t append_body(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

void BM_fetch_page(benchmark::State& state) {
    for (auto _ : state) {
        const qinglan::Bytes body = qinglan::fetch_page(page_address);
        if (body.size() != kPageBytes) {
            state.SkipWithError("fetch_page returned a short page");
            break;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPageBytes));
}

void BM_plain_curl_get(benchmark::State& state) {
    for (auto _ : state) {
        std::string body;
        CURL* curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, page_address.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append_body);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        if (body.size() != kPageBytes) {
            state.SkipWithError("the plain GET returned a short page");
            break;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPageBytes));
}

BENCHMARK(BM_fetch_page)->UseRealTime()->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_plain_curl_get)->UseRealTime()->Repetitions(10)->ReportAggregatesOnly(true);

// Shows the usual table and remembers each benchmark's median.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
                unit_ = benchmark::GetTimeUnitString(run.time_unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    const std::map<std::string, double>& medians() const { return medians_; }
    const char* unit() const { return unit_; }

private:
    std::map<std::string, double> medians_;
    const char* unit_ = "";
};

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_ALL);
    qinglan::SampleMarketplace market;
    market.set_resource("page.html", std::string(kPageBytes, 'x'));
    if (!market.start()) {
        std::fprintf(stderr, "cannot start the sample marketplace\n");
        return 1;
    }
    page_address = market.base_url() + "page.html";

    // Interleaving the repetitions of both benchmarks spreads the load of a
    // shared machine over both sides instead of over whichever runs second.
    // Flags given on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int arg_count = static_cast<int>(args.size());
    benchmark::Initialize(&arg_count, args.data());
    if (benchmark::ReportUnrecognizedArguments(arg_count, args.data())) {
        return 1;
    }
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    market.stop();

    const auto& medians = reporter.medians();
    const auto fetch = medians.find("BM_fetch_page");
    const auto plain = medians.find("BM_plain_curl_get");
    if (fetch != medians.end() && plain != medians.end() && plain->second > 0) {
        std::printf("median real time: fetch_page %.0f %s, plain GET %.0f %s, ratio %.3f\n",
                    fetch->second, reporter.unit(), plain->second, reporter.unit(),
                    fetch->second / plain->second);
    }
    curl_global_cleanup();
    return 0;
}
