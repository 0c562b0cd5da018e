#pragma once

// One transfer of a page through libcurl: the process-wide HTTP client that
// every transfer shares (cookies, TLS sessions, the request's fixed
// headers), how each easy handle is set up, what its callbacks keep, and
// what its outcome means. The transfer loop runs these; nothing else in the
// program sees libcurl.

#include <curl/curl.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "services/cookie_jar.h"
#include "services/fetch.h"

namespace qinglan::curl {

using Clock = std::chrono::steady_clock;

// What every transfer shares: the cookie store and the TLS sessions, behind
// one lock per kind of shared data, and the cookies of cookies files. Created
// once and kept to process exit.
//
// Host names are not shared: every member's contact page has a host of its
// own, and libcurl walks the whole shared name cache on every lookup, so a
// shared cache costs more with each member collected than it saves.
struct Client {
    CURLSH* share = nullptr;
    curl_slist* headers = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
    CookieJar file_cookies;
};

// Null when libcurl could not be set up; every transfer then fails.
Client* client();

// One transfer's state, reached from libcurl's callbacks.
struct Transfer {
    Bytes body;
    std::array<const std::atomic<bool>*, 2> cancel{};  // either true ends it
    FetchSettings limits;
    Clock::time_point start = Clock::now();
    Clock::time_point last_arrival = start;
    std::size_t received = 0;  // header and body bytes, every response of a redirect chain
    // The bytes received at the start of each second of the transfer, the
    // oldest first, reaching back over the slow window.
    std::deque<std::pair<Clock::time_point, std::size_t>> samples;
    bool answered = false;                 // a status line arrived
    FetchError error = FetchError::kNone;  // set where a callback ends the transfer
    std::string content_type;
    char error_buffer[CURL_ERROR_SIZE] = {};
    // Redirects are the transfer loop's to follow (see redirect_target),
    // and `address` is where this transfer goes.
    bool own_redirects = false;
    std::string_view address;

    bool cancelled() const;
};

// Sets up `curl` to fetch `url` into `transfer`, with the limits and proxy
// of transfer.limits and the cookies files' cookies for `url`. `url` must
// outlive the transfer.
void configure(CURL* curl, const Client& client, const std::string& url, Transfer& transfer);

// What the finished transfer gives the caller: the body and FetchInfo.
void conclude(CURL* curl, CURLcode code, Transfer& transfer, FetchInfo* info);

// The address a concluded transfer's answer redirects to, when the loop
// follows redirects itself (Transfer::own_redirects), `redirects` having
// been followed so far; empty when there is none to follow. Past the most
// redirects libcurl would follow, `info` says kRedirects instead.
std::string redirect_target(CURL* curl, const Transfer& transfer, int redirects, FetchInfo* info);

// True when a failed fetch is worth another try: the answer was 429 or 5xx,
// or the transfer failed in a way the next try may not.
bool worth_another_try(const FetchInfo& info);

// The wait before retry number `retry` (1 for the first): the server's
// Retry-After when it gave one, up to the longest allowed, else the back-off
// doubled per retry and spread by ±25%, so that many tasks turned away at
// once do not all come back at the same instant.
Clock::duration retry_delay(int retry, const FetchInfo& last, const FetchSettings& settings);

}  // namespace qinglan::curl
