#include "services/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qinglan {
namespace {

// What a file's kind is called when it is not a regular file.
const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

struct Limit {
    std::size_t max_bytes;
    const std::string& file_kind;

    std::string too_large() const {
        return "it is larger than " + std::to_string(max_bytes >> 20) + " MiB, the most a " +
               file_kind + " may be";
    }
};

// Why the open file `fd` is not read; empty when it may be.
std::string refusal_of(int fd, const Limit& limit) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return std::string("it is ") + kind_of(status.st_mode) + ", not a file";
    }
    if (static_cast<std::uintmax_t>(status.st_size) > limit.max_bytes) {
        return limit.too_large();
    }
    return {};
}

// Reads `fd` to its end into `text`; why not, when it cannot, or when it
// grew past the limit meanwhile.
std::string read_all(int fd, const Limit& limit, std::string* text) {
    std::vector<char> chunk(std::size_t{1} << 16);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::strerror(errno);
        }
        if (n == 0) {
            return {};
        }
        if (text->size() + static_cast<std::size_t>(n) > limit.max_bytes) {
            return limit.too_large();
        }
        text->append(chunk.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace

bool read_small_file(const std::string& path, std::size_t max_bytes, const std::string& file_kind,
                     std::string* text, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    const Limit limit{max_bytes, file_kind};
    *why = refusal_of(fd, limit);
    if (why->empty()) {
        *why = read_all(fd, limit, text);
    }
    ::close(fd);
    return why->empty();
}

}  // namespace qinglan
