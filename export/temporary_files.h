#pragma once

// The files of this process that must not outlive it when it is ended by
// SIGINT, SIGTERM or SIGHUP: a half-written export under its temporary name
// would otherwise stay in the user's folder for ever. The list is fixed in
// size and written without allocation, so the signal handler can read it.
//
// Nothing here fails loudly: a path that does not fit (every slot taken, or
// longer than a path can be) is simply not removed on a signal, which leaves
// the file to its owner's ordinary clean-up, as it was before.

#include <signal.h>

#include <string>

namespace qinglan {

// Files that can be on the list at once; an export holds one.
inline constexpr int kMaxTemporaryFiles = 16;

// Sets handlers for SIGINT, SIGTERM and SIGHUP that remove every listed file
// and then end the process by the same signal, so the exit status still
// names it. A signal that is ignored at the call (under nohup, or a job
// started in the background by a shell) stays ignored. Calling it again does
// no harm.
void remove_temporary_files_on_signals();

// The signals those handlers answer, for holding them back while a file is
// created and listed.
sigset_t temporary_file_signals();

// Lists `path`, a file this process has just created. Returns the slot to
// give to unregister_temporary_file, or -1 when the path was not listed.
int register_temporary_file(const std::string& path);

// Takes a file off the list, once it is gone or has been renamed; -1 is
// ignored. Doing it only afterwards means a signal in between still finds
// the file listed; removing an already vanished name is harmless.
void unregister_temporary_file(int slot);

}  // namespace qinglan
