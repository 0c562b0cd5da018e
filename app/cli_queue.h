#pragma once

// The team's work queue on the command line (a PostgreSQL server only):
// `queue` lists it, `queue add|retry|remove` changes it, and `work` drains
// it as a worker. Exit statuses as for the other commands: 0 ok, 1 a
// failure of the work or the server, 2 bad usage.

#include "app/options.h"

namespace qinglan {

// queue [--json] | queue add KEYWORD... [--tries N] | queue retry
// KEYWORD...|--failed | queue remove KEYWORD...|--done
int run_queue(const Options& options);

// work [--until-empty] [--tasks N] [--lease SECONDS]: see cli_work.cpp.
int run_work(const Options& options);

// False with a message on stderr when the options name no server: the
// queue lives in the team's database only.
bool queue_on_server(const Options& options, const char* command);

}  // namespace qinglan
