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
//
// A lock alone cannot tell a collector that it lost its claim: a claims
// file deleted or replaced under a running collector, or a server session
// ended while the collector was stopped, lets another collector claim the
// keyword, collect it and release it. So each claim also leaves a number in
// the keyword's collection state, and every row is stored only while the
// state still holds the number of the claim it is stored under.

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace qinglan {

// The number a new claim leaves in the keyword's state: 62 random bits, so
// no two claims draw the same one, even of a keyword deleted and made anew.
long long new_claim_number();

// Why a row, or a member list, of a keyword that another collector has
// claimed since this one did is refused.
inline constexpr const char* kClaimTaken =
    "another collector has taken the keyword since this collector claimed it";

// A store's claims with their numbers, and what the keyword's state holds
// as far as each claim knows. Not thread-safe: the store keeps it under the
// mutex of its writes.
class ClaimNumbers {
public:
    // A claim taken, whose number the state now holds (`in_state`) or not,
    // the keyword having no state.
    void claimed(std::string_view keyword, long long number, bool in_state);
    void released(std::string_view keyword);
    bool held(std::string_view keyword) const { return in_state_.count(keyword) != 0; }
    const std::map<std::string, long long, std::less<>>& numbers() const { return numbers_; }

    // The number a write of the keyword's state leaves there: its claim's,
    // or, unclaimed, a new one, so that no earlier claim stands after it.
    long long number_for(std::string_view keyword) const;
    // What the state of a claimed keyword must hold for the claim to stand:
    // its number, or -1 (no state).
    long long expected(std::string_view keyword) const;
    // After a committed write of the keyword's state: it holds the claim's
    // number, or (`has_state` false) there is no state.
    void state_written(std::string_view keyword, bool has_state);

    // True when the claim stands as far as `in_state` (what the state holds
    // now, -1 for none) tells, or the keyword is not claimed here; false
    // with the reason otherwise, and the claim counts as lost from then on.
    bool stands(std::string_view keyword, long long in_state, std::string* error);
    void lose(std::string_view keyword) { lost_.emplace(keyword); }
    bool lost(std::string_view keyword) const { return lost_.count(keyword) != 0; }

private:
    std::map<std::string, long long, std::less<>> numbers_;   // the claims' own
    std::map<std::string, long long, std::less<>> in_state_;  // what the states hold
    std::set<std::string, std::less<>> lost_;
};

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
    // Under mutex_: the claims file is no longer the one at its path.
    bool replaced() const;

    const std::string path_;
    std::mutex mutex_;
    int fd_ = -1;  // opened by the first claim
    std::set<std::string, std::less<>> held_;
};

}  // namespace qinglan
