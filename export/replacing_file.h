#pragma once

// A file that takes the place of `path` only once it is complete. It is
// written under a temporary name in the same folder (".NAME.PID.XXXXXX.tmp",
// PID the writing process's),
// flushed to the disk and then renamed over `path` in one step, so `path`
// holds either what it held before or the whole new file, never a part of
// it, even if the program dies half-way. Destroyed without a successful
// commit(), the temporary file is removed and `path` is left as it was; so
// it is when the process is ended by a signal that
// remove_temporary_files_on_signals() (export/temporary_files.h) handles.
// A process killed outright cannot remove its file: the next ReplacingFile
// created in that folder removes every such file whose process has ended.
//
// A symbolic link is written through: its target is replaced and the link
// stays. A file replaced keeps its permissions.
//
// Failures come back as false with a reason naming the file in `error`.

#include <string>

namespace qinglan {

class ReplacingFile {
public:
    explicit ReplacingFile(std::string path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the empty temporary file, with the permissions of the file it
    // replaces, or as a new file would be under the process's umask.
    bool create(std::string* error);

    // Where to write the content: an existing file that may be reopened and
    // truncated by name.
    const std::string& temporary_path() const { return temporary_path_; }

    // The folder that holds both names.
    const std::string& folder() const { return folder_; }

    // Flushes the temporary file and renames it to `path`.
    bool commit(std::string* error);

private:
    void remove_temporary();

    const std::string path_;
    std::string target_;  // path_ with its symbolic links followed
    std::string folder_;
    std::string temporary_path_;
    int descriptor_ = -1;
    int signal_slot_ = -1;  // in the list of files removed on a signal
    bool committed_ = false;
};

}  // namespace qinglan
