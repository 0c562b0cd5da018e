#pragma once

// qinglan export [OPTIONS] KEYWORD FILE: the stored rows of a keyword to an
// .xlsx workbook, laid out as the windows export it.

#include "app/options.h"

namespace qinglan {

// 0 only when FILE was written; 1 when the keyword has no table or the
// workbook could not be written (FILE then is as it was); 2 for bad usage.
int run_export(const Options& options);

}  // namespace qinglan
