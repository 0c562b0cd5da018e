#pragma once

// The headless commands. Each returns the process exit status: 0 on full
// success, 1 when the work failed, 2 for bad usage.

#include "app/options.h"

namespace qinglan {

// Collects the keywords, all at once, and waits for all of them. 0 only when
// every task ran to its end and every row was stored.
int run_collect(const Options& options);

// Lists the stored keywords with their row counts.
int run_tables(const Options& options);

}  // namespace qinglan
