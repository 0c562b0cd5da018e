#pragma once

// qinglan copy --from DIR|URL --to DIR|URL [KEYWORD...]: stored keywords,
// with their rows and collection state, from one store to another (all of
// them but the first table "123" when none is named).

#include "app/options.h"

namespace qinglan {

// Each keyword is copied in one transaction, while neither store has it
// claimed. A keyword the destination already holds with the same rows and
// state is left as it is, so running a copy again copies nothing twice; one
// it holds with other rows or state is not touched, and reported. 0 when
// every keyword is at the destination afterwards; 1 otherwise; 2 for bad
// usage.
int run_copy(const Options& options);

}  // namespace qinglan
