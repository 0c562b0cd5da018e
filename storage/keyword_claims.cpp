#include "storage/keyword_claims.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

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

long long new_claim_number() {
    // The system's random source each time: claims are few, and numbers of
    // two processes must not follow from one seed.
    std::random_device source;
    const std::uint64_t bits = (std::uint64_t{source()} << 32) ^ source();
    // Never 0, which states from before claims left numbers hold.
    return static_cast<long long>(bits & 0x3FFFFFFFFFFFFFFFull) | 1;
}

void ClaimNumbers::claimed(std::string_view keyword, long long number, bool in_state) {
    numbers_[std::string(keyword)] = number;
    in_state_[std::string(keyword)] = in_state ? number : -1;
    lost_.erase(std::string(keyword));
}

void ClaimNumbers::released(std::string_view keyword) {
    numbers_.erase(std::string(keyword));
    in_state_.erase(std::string(keyword));
    lost_.erase(std::string(keyword));
}

long long ClaimNumbers::number_for(std::string_view keyword) const {
    const auto found = numbers_.find(keyword);
    return found != numbers_.end() ? found->second : new_claim_number();
}

long long ClaimNumbers::expected(std::string_view keyword) const {
    const auto found = in_state_.find(keyword);
    return found != in_state_.end() ? found->second : -1;
}

void ClaimNumbers::state_written(std::string_view keyword, bool has_state) {
    const auto found = in_state_.find(keyword);
    if (found != in_state_.end()) {
        found->second = has_state ? numbers_.find(keyword)->second : -1;
    }
}

bool ClaimNumbers::stands(std::string_view keyword, long long in_state, std::string* error) {
    const auto found = in_state_.find(keyword);
    if (found == in_state_.end()) {
        return true;
    }
    if (lost(keyword) || in_state != found->second) {
        lose(keyword);
        return fail(error, kClaimTaken);
    }
    return true;
}

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
    if (fd_ >= 0 && held_.empty() && replaced()) {
        // Deleted or replaced under this process: the other collectors lock
        // the file now at the path. (Claims held on the old one stay there;
        // the numbers in the state guard those.)
        close(fd_);
        fd_ = -1;
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

bool KeywordClaims::replaced() const {
    struct stat held {};
    struct stat named {};
    return fstat(fd_, &held) != 0 || stat(path_.c_str(), &named) != 0 ||
           held.st_dev != named.st_dev || held.st_ino != named.st_ino;
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
