#include "storage/keyword_claims.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "services/failure.h"

namespace qinglan {
namespace {

// FNV-1a: stable across builds and processes, unlike std::hash.
off_t offset_of(std::string_view keyword) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : keyword) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return static_cast<off_t>(hash & 0x3FFFFFFFFFFFFFFFull);
}

// An open-file-description lock: owned by the descriptor, not the process,
// so closing some other descriptor of the file never drops it.
bool lock_byte(int fd, off_t offset, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

KeywordClaims::KeywordClaims(std::string path) : path_(std::move(path)) {}

KeywordClaims::~KeywordClaims() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool KeywordClaims::claim(std::string_view keyword, std::string* error) {
    std::lock_guard lock(mutex_);
    if (held_.count(keyword) != 0) {
        return fail(error, "it is being collected by another task of this collector");
    }
    if (path_.empty()) {
        held_.emplace(keyword);
        return true;
    }
    if (fd_ < 0) {
        fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            return fail(error, "cannot open " + path_ + ": " + std::strerror(errno));
        }
    }
    if (!lock_byte(fd_, offset_of(keyword), F_WRLCK)) {
        if (errno == EAGAIN || errno == EACCES) {
            return fail(error, "it is being collected by another collector");
        }
        return fail(error, "cannot lock " + path_ + ": " + std::strerror(errno));
    }
    held_.emplace(keyword);
    return true;
}

void KeywordClaims::release(std::string_view keyword) {
    std::lock_guard lock(mutex_);
    const auto found = held_.find(keyword);
    if (found == held_.end()) {
        return;
    }
    held_.erase(found);
    if (fd_ >= 0) {
        lock_byte(fd_, offset_of(keyword), F_UNLCK);
    }
}

}  // namespace qinglan
