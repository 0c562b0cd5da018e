// The load of a browser's cookies file of one domain's cookies, as a
// logged-in session exported over a long time would be, at 1, 8 and 50 MB.
// Each run's label says whether the file loaded (and how many cookies) or
// was refused, and why: a file over the count limit must be refused at
// once, not after a long load.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "services/fetch.h"

namespace {

namespace fs = std::filesystem;

// A cookies file of about `megabytes` MB, every cookie of one domain; its
// number of cookies in `count`.
std::string write_cookies(const fs::path& folder, long megabytes, long* count) {
    const fs::path path = folder / ("cookies-" + std::to_string(megabytes) + "mb.txt");
    std::ofstream out(path, std::ios::binary);
    out << "# Netscape HTTP Cookie File\n";
    const std::size_t size = static_cast<std::size_t>(megabytes) << 20;
    std::size_t written = 0;
    *count = 0;
    while (written < size) {
        const std::string line = ".1688.com\tTRUE\t/\tFALSE\t1999999999\tsession_" +
                                 std::to_string(*count) + "\tvalue_of_a_long_browser_session_" +
                                 std::to_string(*count) + "\n";
        out << line;
        written += line.size();
        ++*count;
    }
    return path.string();
}

void BM_load_cookies_file(benchmark::State& state) {
    char pattern[] = "/tmp/qinglan-cookies-bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const fs::path folder = pattern;
    long count = 0;
    const std::string path = write_cookies(folder, state.range(0), &count);
    std::string outcome;
    for (auto _ : state) {
        std::string error;
        outcome = qinglan::load_cookies_file(path, &error)
                      ? "loaded " + std::to_string(count) + " cookies"
                      : "refused (" + std::to_string(count) +
                            " cookies): " + error.substr(error.find(", ") + 2);
    }
    state.SetLabel(outcome);
    fs::remove_all(folder);
}

BENCHMARK(BM_load_cookies_file)
    ->Arg(1)
    ->Arg(8)
    ->Arg(50)
    ->ArgName("MB")
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
