#include "services/fetch.h"

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qinglan {
namespace {

// Every request identifies itself exactly as the program always has; the
// marketplace's pages are known for this identity and nothing else of ours is
// added, so no Accept-Encoding, no Pragma, no keep-alive.
constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr const char* kAcceptHeader = "Accept: */*";
constexpr long kMaxRedirects = 10;

// What every fetch shares: the cookie store and the TLS sessions, behind one
// lock per kind of shared data. Created once and kept to process exit, so a
// fetch still running while the process ends never finds it gone.
//
// Host names are not shared: every member's contact page has a host of its
// own, and libcurl walks the whole shared name cache on every lookup, so a
// shared cache costs more with each member collected than it saves.
struct HttpClient {
    CURLSH* share = nullptr;
    curl_slist* headers = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void lock_shared(CURL*, curl_lock_data data, curl_lock_access, void* client) {
    if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
        static_cast<HttpClient*>(client)->locks[data].lock();
    }
}

void unlock_shared(CURL*, curl_lock_data data, void* client) {
    if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
        static_cast<HttpClient*>(client)->locks[data].unlock();
    }
}

HttpClient* create_client() {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        return nullptr;
    }
    auto* client = new (std::nothrow) HttpClient;
    if (client == nullptr) {
        return nullptr;
    }
    client->headers = curl_slist_append(nullptr, kAcceptHeader);
    client->share = curl_share_init();
    if (client->headers == nullptr || client->share == nullptr) {
        curl_slist_free_all(client->headers);
        curl_share_cleanup(client->share);
        delete client;
        return nullptr;
    }
    curl_share_setopt(client->share, CURLSHOPT_LOCKFUNC, lock_shared);
    curl_share_setopt(client->share, CURLSHOPT_UNLOCKFUNC, unlock_shared);
    curl_share_setopt(client->share, CURLSHOPT_USERDATA, client);
    curl_share_setopt(client->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(client->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    return client;
}

// Null when libcurl could not be set up; every fetch then fails.
HttpClient* http_client() {
    static std::once_flag once;
    static HttpClient* client = nullptr;
    std::call_once(once, [] { client = create_client(); });
    return client;
}

std::mutex timeouts_mutex;
FetchTimeouts current_timeouts;

using Clock = std::chrono::steady_clock;

// One transfer's state, reached from libcurl's callbacks (all of which run
// on the fetching thread).
struct Transfer {
    Bytes body;
    const std::atomic<bool>* cancel = nullptr;
    Clock::duration stall_limit{};  // zero: no limit
    std::optional<Clock::time_point> last_arrival;
    std::string* content_type = nullptr;  // null: not wanted
};

bool starts_without_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != prefix[i]) {
            return false;
        }
    }
    return true;
}

std::string_view trim_blanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

size_t receive_body(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const size_t length = size * count;
    transfer.last_arrival = Clock::now();
    try {
        transfer.body.append(data, length);
    } catch (...) {
        // Out of memory: ending the transfer keeps what already arrived.
        return CURL_WRITEFUNC_ERROR;
    }
    return length;
}

// A status line starts a new response, and what an earlier response of a
// redirect chain left is not the page's. libcurl skips the body of a redirect
// it follows; clearing anyway keeps the page to the last response's body.
size_t receive_header(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const size_t length = size * count;
    transfer.last_arrival = Clock::now();
    const std::string_view line(data, length);
    if (line.substr(0, 5) == "HTTP/") {
        transfer.body.clear();
        if (transfer.content_type != nullptr) {
            transfer.content_type->clear();
        }
    } else if (transfer.content_type != nullptr && starts_without_case(line, "content-type:")) {
        try {
            transfer.content_type->assign(trim_blanks(line.substr(13)));
        } catch (...) {
            return 0;  // out of memory: ends the transfer
        }
    }
    return length;
}

// libcurl calls this at least about once a second even while nothing
// arrives, which bounds how late a cancel or a stall is noticed.
//
// Until the first byte arrives libcurl's low-speed check gives up exactly on
// time, as the average speed is zero. Once bytes have come it averages over
// its last few seconds, which lets a stalled body run on for up to about six
// seconds past the limit; counting from the last arrival here keeps to it.
int check_progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& transfer = *static_cast<const Transfer*>(context);
    if (transfer.cancel != nullptr && transfer.cancel->load(std::memory_order_relaxed)) {
        return 1;
    }
    if (transfer.stall_limit > Clock::duration::zero() && transfer.last_arrival &&
        Clock::now() - *transfer.last_arrival >= transfer.stall_limit) {
        return 1;
    }
    return 0;
}

// Owns one easy handle.
class EasyHandle {
public:
    EasyHandle() : handle_(curl_easy_init()) {}
    ~EasyHandle() {
        if (handle_ != nullptr) {
            curl_easy_cleanup(handle_);
        }
    }
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;

    CURL* get() const { return handle_; }

private:
    CURL* handle_;
};

void configure(CURL* curl, const HttpClient& client, const std::string& url,
               const FetchTimeouts& timeouts, Transfer& transfer) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    // Replaces libcurl's own Accept line, so the header is sent exactly once.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, client.headers);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);

    // The share handle must be attached before the cookie engine is switched
    // on, or the handle would start a private cookie store of its own.
    curl_easy_setopt(curl, CURLOPT_SHARE, client.share);
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");

    if (timeouts.connect_seconds > 0) {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeouts.connect_seconds);
    }
    // The low-speed check also runs while the response headers are awaited,
    // so a server that accepts and never answers is given up on as well.
    if (timeouts.stall_seconds > 0) {
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeouts.stall_seconds);
    }

    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, receive_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    if (transfer.cancel != nullptr || transfer.stall_limit > Clock::duration::zero()) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, check_progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
}

}  // namespace

void set_fetch_timeouts(FetchTimeouts timeouts) {
    std::lock_guard lock(timeouts_mutex);
    current_timeouts = timeouts;
}

FetchTimeouts fetch_timeouts() {
    std::lock_guard lock(timeouts_mutex);
    return current_timeouts;
}

std::string host_address(std::string_view configured, std::string_view host_prefix) {
    std::string scheme = "http://";
    for (std::string_view explicit_scheme : {"https://", "http://"}) {
        if (configured.substr(0, explicit_scheme.size()) == explicit_scheme) {
            scheme = std::string(explicit_scheme);
            configured.remove_prefix(explicit_scheme.size());
            break;
        }
    }
    return scheme + std::string(host_prefix) + std::string(configured);
}

Bytes fetch_page(std::string_view url, const std::atomic<bool>* cancel, FetchInfo* info) {
    if (info != nullptr) {
        *info = FetchInfo();
    }
    // The fragment belongs to the client alone and is never sent.
    url = url.substr(0, url.find('#'));
    if (url.empty()) {
        return {};
    }
    HttpClient* client = http_client();
    if (client == nullptr) {
        return {};
    }
    EasyHandle easy;
    if (easy.get() == nullptr) {
        return {};
    }
    const FetchTimeouts timeouts = fetch_timeouts();
    Transfer transfer;
    transfer.cancel = cancel;
    transfer.content_type = info != nullptr ? &info->content_type : nullptr;
    if (timeouts.stall_seconds > 0) {
        transfer.stall_limit = std::chrono::seconds(timeouts.stall_seconds);
    }
    const std::string address(url);
    configure(easy.get(), *client, address, timeouts, transfer);

    // Whatever the outcome, the bytes that arrived are the answer: a transfer
    // that broke off mid-body gives the part received, one that failed
    // before the body gives nothing.
    curl_easy_perform(easy.get());
    if (info != nullptr) {
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &info->status);
    }
    return std::move(transfer.body);
}

}  // namespace qinglan
