#pragma once

// The headless commands. Each returns the process exit status: 0 on full
// success, 1 when the work failed, 2 for bad usage.

#include "app/options.h"

namespace qinglan {

// Collects the keywords, all at once, and waits for all of them. 0 only when
// every task ran to its end and every member was stored; 1 when something
// failed; 3 when all was stored but the output could not be written.
int run_collect(const Options& options);

// Lists the stored keywords: rows stored, members listed ("-" when unknown)
// and complete or incomplete, tab-separated, one keyword a line.
int run_tables(const Options& options);

// Deletes stored keywords, their rows and their states, all in one
// transaction: all of them or, when one is not stored or being collected,
// none.
int run_forget(const Options& options);

}  // namespace qinglan
