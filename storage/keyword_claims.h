#pragma once

// Which keywords this process is collecting, made known to every other
// process on the machine that uses the same claims file: each claim is a
// lock on one byte of the file, at an offset taken from the keyword, held
// through one descriptor for all claims. The kernel drops the locks when the
// process ends, however it ends, so a killed collector never leaves a
// keyword locked.
//
// Two keywords whose offsets collide would refuse each other while both are
// collected; with 62-bit offsets that does not happen in practice.

#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace qinglan {

class KeywordClaims {
public:
    // An empty path keeps the claims within this process.
    explicit KeywordClaims(std::string path);
    ~KeywordClaims();
    KeywordClaims(const KeywordClaims&) = delete;
    KeywordClaims& operator=(const KeywordClaims&) = delete;

    // False with the reason when this or another process holds the keyword,
    // or the claims file cannot be used.
    bool claim(std::string_view keyword, std::string* error);
    void release(std::string_view keyword);

private:
    const std::string path_;
    std::mutex mutex_;
    int fd_ = -1;  // opened by the first claim
    std::set<std::string, std::less<>> held_;
};

}  // namespace qinglan
