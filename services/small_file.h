#pragma once

// Reading a small file the user names (a cookies file, a keyword list)
// without letting it hold the program up or fill its memory.

#include <cstddef>
#include <string>

namespace qinglan {

// The bytes of `path` into `text`. Only a regular file of at most
// `max_bytes` is read: a pipe would hold the program up for ever and a
// device such as /dev/zero would fill its memory. Opened without blocking,
// so that not even the open waits for a pipe's writer. False with why not
// in `why` ("it is a pipe, not a file", "it is larger than 64 MiB, the most
// a FILE_KIND may be", or the system's reason).
bool read_small_file(const std::string& path, std::size_t max_bytes, const std::string& file_kind,
                     std::string* text, std::string* why);

}  // namespace qinglan
