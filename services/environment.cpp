#include "services/environment.h"

#include <glob.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

extern char** environ;

namespace qinglan {
namespace {

std::filesystem::path executable_path() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::string_view trim_blanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool is_section_line(std::string_view line, std::string_view* name) {
    const auto trimmed = trim_blanks(line);
    if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') {
        return false;
    }
    *name = trimmed.substr(1, trimmed.size() - 2);
    return true;
}

bool is_key_line(std::string_view line, std::string_view key) {
    const auto eq = line.find('=');
    return eq != std::string_view::npos && trim_blanks(line.substr(0, eq)) == key;
}

}  // namespace

std::string run_directory() {
    return executable_path().parent_path().string();
}

std::string executable_name() {
    return executable_path().filename().string();
}

bool file_exists(std::string_view path) {
    const std::string p(path);
    if (p.empty()) {
        return false;
    }
    if (p.find_first_of("*?") != std::string::npos) {
        glob_t matches{};
        const int rc = glob(p.c_str(), 0, nullptr, &matches);
        const bool found = rc == 0 && matches.gl_pathc > 0;
        globfree(&matches);
        return found;
    }
    struct stat info {};
    return stat(p.c_str(), &info) == 0;
}

std::optional<std::string> read_ini_value(const std::string& path, std::string_view section,
                                          std::string_view key) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return read_ini_text(text.str(), section, key);
}

std::optional<std::string> read_ini_text(std::string_view text, std::string_view section,
                                         std::string_view key) {
    bool in_section = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::string_view name;
        if (is_section_line(line, &name)) {
            in_section = name == section;
        } else if (in_section && is_key_line(line, key)) {
            return std::string(trim_blanks(line.substr(line.find('=') + 1)));
        }
    }
    return std::nullopt;
}

bool write_ini_value(const std::string& path, std::string_view section,
                     std::optional<std::string_view> key, std::optional<std::string_view> value) {
    std::vector<std::string> lines;
    {
        std::ifstream in(path, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(std::move(line));
        }
    }

    // Find the section's header and the end of its body.
    std::size_t header = lines.size();
    std::size_t body_end = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (!is_section_line(lines[i], &name)) {
            continue;
        }
        if (header == lines.size()) {
            if (name == section) {
                header = i;
            }
        } else {
            body_end = i;
            break;
        }
    }
    const bool have_section = header < lines.size();

    if (!key) {
        if (have_section) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
                        lines.begin() + static_cast<std::ptrdiff_t>(body_end));
        }
    } else {
        std::size_t key_line = body_end;
        if (have_section) {
            for (std::size_t i = header + 1; i < body_end; ++i) {
                if (is_key_line(lines[i], *key)) {
                    key_line = i;
                    break;
                }
            }
        }
        const std::string entry = std::string(*key) + "=" + std::string(value.value_or(""));
        if (!value) {
            if (key_line < body_end) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(key_line));
            }
        } else if (key_line < body_end) {
            lines[key_line] = entry;
        } else if (have_section) {
            // Put a new key after the section's last non-empty line.
            std::size_t at = body_end;
            while (at > header + 1 && trim_blanks(lines[at - 1]).empty()) {
                --at;
            }
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
        } else {
            std::string header = "[";
            header.append(section).append("]");
            lines.push_back(std::move(header));
            lines.push_back(entry);
        }
    }

    std::ostringstream text;
    for (const auto& line : lines) {
        text << line << "\n";
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out << text.str();
    out.close();
    return static_cast<bool>(out);
}

bool run_program(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
        return false;
    }
    return true;
}

}  // namespace qinglan
