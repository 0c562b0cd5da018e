#pragma once

// The one way the program reaches the network: an HTTP GET of an absolute
// URL that returns the response body as bytes. Every fetch runs on the
// process's transfer loop (transfer_loop.h), within its limits. The body is returned whatever
// the status code; a connection that breaks mid-body gives the part received;
// a transfer that fails before the body gives empty bytes. Redirects are
// followed, cookies are kept for the process and shared by all threads, and
// the usual proxy variables are honoured.
//
// Whether the transfer completed, and if not why, comes back in FetchInfo:
// callers that must not take a broken page for a whole one look there.
//
// Safe to call from many threads at once.

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "services/text.h"

namespace qinglan {

// Why a transfer did not complete. An answer with any status code is a
// completed transfer (kNone).
enum class FetchError {
    kNone,
    kBadAddress,   // empty or malformed address, or a scheme other than http and https
    kResolve,      // the host name cannot be resolved
    kConnect,      // no connection (refused, unreachable, or the connect timed out)
    kProxy,        // the proxy asked for a login, or refused the one given
    kCertificate,  // the server's certificate was refused, or TLS failed
    kRedirects,    // too many redirects
    kStalled,      // nothing arrived for too long
    kTooSlow,      // too slow for too long, or over the time any page may take
    kCutOff,       // the connection closed before the whole answer arrived
    kTooLarge,     // the body is larger than a page may be
    kStopped,      // the caller stopped it
    kOther,        // anything else (out of memory, a fault of the HTTP library)
};

// A short English reason: "cannot connect", "page too large", …
const char* fetch_error_text(FetchError error);

// Process-wide limits of every later fetch. Zero switches a limit off.
struct FetchSettings {
    long connect_seconds = 30;  // give up on a connect that takes longer
    long stall_seconds = 60;    // give up on a transfer that receives nothing for this long
    // Give up on a transfer that stays below slow_bytes_per_second for
    // slow_seconds: a server trickling a byte now and then holds nobody for ever.
    long slow_seconds = 30;
    long slow_bytes_per_second = 1024;
    long page_seconds = 120;                // no page takes longer in all
    std::size_t max_page_bytes = 16 << 20;  // a larger body fails without being held
    // The bytes of pages that all running transfers may hold at once: a
    // transfer starts only when a page at the cap still fits, so endless
    // bodies on every connection cost the budget, not the cap per transfer.
    // The wait counts toward none of the time limits above.
    std::size_t page_budget_bytes = std::size_t{256} << 20;
    // Tries after the first of a failed transfer or a 429 or 5xx answer
    // (fetch_with_retries), waiting retry_base_ms, then twice, four times
    // that, with jitter; a Retry-After of the server is honoured up to
    // max_retry_after_seconds.
    int retries = 3;
    long retry_base_ms = 1000;
    long max_retry_after_seconds = 60;
    // Transfers at once in the whole process, and to one host (its name and
    // port); further ones wait their turn. With delay_ms, two requests to
    // one host start at least that far apart (±50%).
    int connections = 16;
    int per_host = 8;
    long delay_ms = 0;
    // Empty: the proxy of the http_proxy, https_proxy and no_proxy
    // variables, if any. Else "http://", "https://", "socks5://" or
    // "socks5h://" and the proxy's host and port.
    std::string proxy{};
    std::string proxy_user{};
    std::string proxy_password{};  // never printed
};

void set_fetch_settings(const FetchSettings& settings);
FetchSettings fetch_settings();

// Adds the cookies of a cookies file in the Netscape format that browsers
// and their extensions export to the cookies every later fetch sends. The
// file is only read. False, with the reason, when it cannot be read, is not
// a regular file, is over kMaxCookiesFileBytes, holds over kMaxCookies
// cookies, or has a line that is not a cookie (named by its number);
// nothing is added then. Time and memory grow linearly with the file.
bool load_cookies_file(const std::string& path, std::string* error);

// What is known of the response the body came from (the last one, after
// redirects), and of the transfer.
struct FetchInfo {
    std::string content_type;  // empty when it had none or nothing arrived
    long status = 0;           // the HTTP status code; 0 when no response arrived
    FetchError error = FetchError::kNone;
    std::string detail;             // the HTTP library's words on a failure (no proxy password)
    long retry_after_seconds = -1;  // the answer's Retry-After; -1 when it had none
    int attempts = 0;               // transfers made (fetch_with_retries)
    // The page is one its request called a block page (the transfer loop's
    // Request::blocked), still after the last try: the one verdict on it,
    // so that nobody reads the page for it again.
    bool blocked = false;
};

// The address of a configured host "HOST[:PORT]", optionally preceded by
// "https://" or "http://": the scheme (http when none is given), then
// `host_prefix`, then the host.
std::string host_address(std::string_view configured, std::string_view host_prefix = {});

// `cancel`, when given, ends the transfer soon after it becomes true; what
// arrived before then is returned. `info`, when given, receives what is known
// of the response and the transfer.
Bytes fetch_page(std::string_view url, const std::atomic<bool>* cancel = nullptr,
                 FetchInfo* info = nullptr);

// True when the fetch gave no page that can be used: the transfer failed, or
// the server answered 429 (too many requests) or 5xx (its own failure). Any
// other answer, a 404 page included, is a page.
bool fetch_failed(const FetchInfo& info);

// Why a failed fetch failed, in one line: "cannot connect (Connection
// refused)", "server answered 503".
std::string fetch_failure_text(const FetchInfo& info);

// fetch_page, tried again as FetchSettings says while it fails. Failures
// that another try cannot mend (a bad address, a refused certificate, a
// redirect loop, a page too large, a stop) are not tried again. A stop
// during a wait between tries ends the wait at once. `info` describes the
// last try. Both wait for the transfer loop; callers that must not wait
// submit to it directly.
Bytes fetch_with_retries(std::string_view url, const std::atomic<bool>* cancel = nullptr,
                         FetchInfo* info = nullptr);

}  // namespace qinglan
