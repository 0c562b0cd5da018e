#pragma once

#include "app/options.h"

namespace qinglan {

// Runs the windows until the main window is closed; returns the exit status.
int run_gui(int argc, char** argv, const Options& options);

}  // namespace qinglan
