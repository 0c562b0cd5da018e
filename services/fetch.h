#pragma once

// The one way the program reaches the network: an HTTP GET of an absolute
// URL that returns the response body as bytes. The body is returned whatever
// the status code; a connection that breaks mid-body gives the part received;
// every other failure (empty or bad URL, a scheme other than http and https,
// connect, TLS, time-out, cancellation before anything arrived) gives empty
// bytes. Redirects are followed, cookies are kept for the process and shared
// by all threads, and the usual proxy variables are honoured.
//
// Safe to call from many threads at once.

#include <atomic>
#include <string>
#include <string_view>

#include "services/text.h"

namespace qinglan {

struct FetchTimeouts {
    long connect_seconds = 30;  // give up on a connect that takes longer
    long stall_seconds = 60;    // give up on a transfer that receives nothing for this long
};

// Process-wide time-outs for every later fetch.
void set_fetch_timeouts(FetchTimeouts timeouts);
FetchTimeouts fetch_timeouts();

// What is known of the response the body came from (the last one, after
// redirects).
struct FetchInfo {
    std::string content_type;  // empty when it had none or nothing arrived
    long status = 0;           // the HTTP status code; 0 when no response arrived
};

// The address of a configured host "HOST[:PORT]", optionally preceded by
// "https://" or "http://": the scheme (http when none is given), then
// `host_prefix`, then the host.
std::string host_address(std::string_view configured, std::string_view host_prefix = {});

// `cancel`, when given, ends the transfer soon after it becomes true; what
// arrived before then is returned. `info`, when given, receives what is known
// of the response.
Bytes fetch_page(std::string_view url, const std::atomic<bool>* cancel = nullptr,
                 FetchInfo* info = nullptr);

}  // namespace qinglan
