#pragma once

// qinglan export [OPTIONS] KEYWORD... FILE: the stored rows of keywords to an
// .xlsx workbook (a worksheet each, or one merged with --merge) or a CSV
// file, laid out as the windows export them.

#include "app/options.h"

namespace qinglan {

// 0 whenever FILE was written (cells cut or replaced are reported on
// stderr); 1 when a keyword has no table or the file could not be written
// (FILE then is as it was); 2 for bad usage.
int run_export(const Options& options);

}  // namespace qinglan
