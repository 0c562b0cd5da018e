#include "engine/page_saver.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "services/utf8.h"

namespace qinglan {
namespace {

constexpr std::string_view kExtension = ".html";
constexpr char kHex[] = "0123456789ABCDEF";

void append_escaped(std::string* out, std::string_view bytes) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out += '%';
        *out += kHex[byte >> 4];
        *out += kHex[byte & 0xFu];
    }
}

bool needs_escape(char32_t c) {
    return c == kIllFormedUtf8 || c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == '/' ||
           c == '\\' || c == '%';
}

// 64-bit FNV-1a: small, stable across builds and machines, and plenty to
// tell apart the long names of one collection.
std::uint64_t name_hash(std::string_view name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// Where the character (or the `%XX` escape) that starts at `at` ends.
std::size_t unit_end(std::string_view name, std::size_t at) {
    if (name[at] == '%' && at + 2 < name.size()) {
        return at + 3;
    }
    char32_t c = 0;
    return at + decode_utf8(name, at, &c);
}

}  // namespace

std::string escape_name_part(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = decode_utf8(text, at, &c);
        if (needs_escape(c)) {
            append_escaped(&out, text.substr(at, length));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::string fit_file_name(std::string_view name) {
    if (name.size() <= kMaxSavedNameBytes) {
        return std::string(name);
    }
    std::string_view extension;
    if (name.ends_with(kExtension)) {
        extension = kExtension;
    }
    const std::string_view stem = name.substr(0, name.size() - extension.size());
    std::uint64_t hash = name_hash(name);
    std::string tail = "~";
    for (int i = 0; i < 10; ++i, hash >>= 4) {
        tail.insert(tail.begin() + 1, kHex[hash & 0xFu]);
    }
    tail += extension;
    const std::size_t room = kMaxSavedNameBytes - tail.size();
    std::size_t cut = 0;
    while (cut < stem.size()) {
        const std::size_t next = unit_end(stem, cut);
        if (next > room) {
            break;
        }
        cut = next;
    }
    return std::string(stem.substr(0, cut)) + tail;
}

std::string search_page_file_name(std::string_view keyword, int page) {
    return fit_file_name("search-" + escape_name_part(keyword) + "-" + std::to_string(page) +
                         std::string(kExtension));
}

std::string member_page_file_name(std::string_view account, std::string_view page_name) {
    return fit_file_name(escape_name_part(account) + "-" + escape_name_part(page_name) +
                         std::string(kExtension));
}

PageSaver::PageSaver(std::string folder, FailureReport on_failure)
    : folder_(std::move(folder)), on_failure_(std::move(on_failure)) {}

void PageSaver::save_search_page(std::string_view keyword, int page, const Bytes& body,
                                 const FetchInfo& info) {
    save(search_page_file_name(keyword, page), body, info);
}

void PageSaver::save_member_page(std::string_view account, std::string_view page_name,
                                 const Bytes& body, const FetchInfo& info) {
    save(member_page_file_name(account, page_name), body, info);
}

void PageSaver::save(const std::string& name, const Bytes& body, const FetchInfo& info) {
    if (info.error != FetchError::kNone || (body.empty() && fetch_failed(info))) {
        return;
    }
    std::string error;
    if (!write(name, body, &error) && !failure_told_.exchange(true) && on_failure_) {
        on_failure_(error);
    }
}

bool PageSaver::write(const std::string& name, std::string_view body, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code status;
    fs::create_directories(folder_, status);
    if (status) {
        *error = folder_ + ": " + status.message();
        return false;
    }
    const fs::path target = fs::path(folder_) / name;
    const fs::path temporary = fs::path(folder_) / ("." + name + "." + std::to_string(getpid()) +
                                                    "-" + std::to_string(++written_) + ".tmp");
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        *error = temporary.string() + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(body.data(), 1, body.size(), file) == body.size();
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *error = target.string() + ": " + std::strerror(written ? errno : write_errno);
        fs::remove(temporary, status);
        return false;
    }
    fs::rename(temporary, target, status);
    if (status) {
        *error = target.string() + ": " + status.message();
        fs::remove(temporary, status);
        return false;
    }
    return true;
}

}  // namespace qinglan
