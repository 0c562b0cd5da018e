#pragma once

// Services of the environment: where the program runs, files, the ini file of
// the updater hand-over, starting a program. Failures are
// reported as false or an empty text, never thrown.

#include <optional>
#include <string>
#include <string_view>

namespace qinglan {

// The directory of the running executable, without a trailing separator.
std::string run_directory();

// The file name of the running executable, without its directory.
std::string executable_name();

// True when the path names an existing file or directory, or when a wildcard
// pattern ("*", "?") matches at least one.
bool file_exists(std::string_view path);

// Writes key=value into [section] of an ordinary ini file, creating the file,
// the section or the key as needed and overwriting an existing key. Without
// a key the whole section is removed; without a value the key is removed.
// Other sections and keys are kept as they are. The bytes are written as
// given (the hand-over file is GBK). True on success.
bool write_ini_value(const std::string& path, std::string_view section,
                     std::optional<std::string_view> key, std::optional<std::string_view> value);

// The value of key in [section] of an ini file; nullopt when the file, the
// section or the key is missing. Blanks around the key and value are ignored.
std::optional<std::string> read_ini_value(const std::string& path, std::string_view section,
                                          std::string_view key);

// The same for the text of an ini file.
std::optional<std::string> read_ini_text(std::string_view text, std::string_view section,
                                         std::string_view key);

// Starts the program at `path`, with no arguments, in the current directory
// and environment. The path is the whole command: it is not split on blanks.
// Returns at once, without waiting for the program to end. True when it was
// started.
bool run_program(const std::string& path);

}  // namespace qinglan
