#include "services/fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
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

std::mutex settings_mutex;
FetchSettings current_settings;

using Clock = std::chrono::steady_clock;

// One transfer's state, reached from libcurl's callbacks (all of which run
// on the fetching thread).
struct Transfer {
    Bytes body;
    const std::atomic<bool>* cancel = nullptr;
    FetchSettings limits;
    Clock::time_point start = Clock::now();
    Clock::time_point last_arrival = start;
    std::size_t received = 0;  // header and body bytes, every response of a redirect chain
    // The bytes received at the start of each second of the transfer, the
    // oldest first, reaching back over the slow window.
    std::deque<std::pair<Clock::time_point, std::size_t>> samples;
    bool answered = false;                 // a status line arrived
    FetchError error = FetchError::kNone;  // set where a callback ends the transfer
    std::string* content_type = nullptr;   // null: not wanted
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
    transfer.received += length;
    const std::size_t cap = transfer.limits.max_page_bytes;
    if (cap > 0 && length > cap - std::min(cap, transfer.body.size())) {
        // Nothing past the cap is held: an endless body costs no memory.
        transfer.error = FetchError::kTooLarge;
        return CURL_WRITEFUNC_ERROR;
    }
    try {
        transfer.body.append(data, length);
    } catch (...) {
        // Out of memory: ending the transfer keeps what already arrived.
        transfer.error = FetchError::kOther;
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
    transfer.received += length;
    const std::string_view line(data, length);
    if (line.substr(0, 5) == "HTTP/") {
        transfer.answered = true;
        transfer.body.clear();
        if (transfer.content_type != nullptr) {
            transfer.content_type->clear();
        }
    } else if (transfer.content_type != nullptr && starts_without_case(line, "content-type:")) {
        try {
            transfer.content_type->assign(trim_blanks(line.substr(13)));
        } catch (...) {
            transfer.error = FetchError::kOther;
            return 0;  // out of memory: ends the transfer
        }
    }
    return length;
}

// True when over the last slow_seconds fewer bytes arrived than the speed
// limit asks for; `nothing` then tells whether not a byte came at all.
bool below_speed(Transfer& transfer, Clock::time_point now, bool* nothing) {
    const auto window = std::chrono::seconds(transfer.limits.slow_seconds);
    auto& samples = transfer.samples;
    if (samples.empty() || now - samples.back().first >= std::chrono::seconds(1)) {
        samples.emplace_back(now, transfer.received);
    }
    while (samples.size() >= 2 && now - samples[1].first >= window) {
        samples.pop_front();
    }
    const auto span = now - samples.front().first;
    if (span < window) {
        return false;
    }
    const double seconds = std::chrono::duration<double>(span).count();
    const std::size_t arrived = transfer.received - samples.front().second;
    *nothing = arrived == 0;
    return static_cast<double>(arrived) <
           static_cast<double>(transfer.limits.slow_bytes_per_second) * seconds;
}

// libcurl calls this at least about once a second even while nothing
// arrives, from the connect on, which bounds how late a stop or a limit is
// noticed. The limits are kept here rather than by libcurl's own low-speed
// check, which averages over a few seconds and cannot say which limit ended
// a transfer.
int check_progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (transfer.cancel != nullptr && transfer.cancel->load(std::memory_order_relaxed)) {
        transfer.error = FetchError::kStopped;
        return 1;
    }
    const FetchSettings& limits = transfer.limits;
    const auto now = Clock::now();
    if (limits.page_seconds > 0 &&
        now - transfer.start >= std::chrono::seconds(limits.page_seconds)) {
        transfer.error = FetchError::kTooSlow;
        return 1;
    }
    if (limits.stall_seconds > 0 &&
        now - transfer.last_arrival >= std::chrono::seconds(limits.stall_seconds)) {
        transfer.error = FetchError::kStalled;
        return 1;
    }
    bool nothing = false;
    if (limits.slow_seconds > 0 && below_speed(transfer, now, &nothing)) {
        transfer.error = nothing ? FetchError::kStalled : FetchError::kTooSlow;
        return 1;
    }
    return 0;
}

// What a libcurl result means for the caller; callbacks that ended the
// transfer have said why already.
FetchError classify(CURLcode code, const Transfer& transfer) {
    if (transfer.error != FetchError::kNone) {
        return transfer.error;
    }
    switch (code) {
        case CURLE_OK:
            return FetchError::kNone;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return FetchError::kBadAddress;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return FetchError::kResolve;
        case CURLE_COULDNT_CONNECT:
            return FetchError::kConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return transfer.answered ? FetchError::kStalled : FetchError::kConnect;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return FetchError::kCertificate;
        case CURLE_TOO_MANY_REDIRECTS:
            return FetchError::kRedirects;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            return FetchError::kCutOff;
        default:
            return FetchError::kOther;
    }
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

void configure(CURL* curl, const HttpClient& client, const std::string& url, Transfer& transfer,
               char* error_buffer) {
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
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);

    // The share handle must be attached before the cookie engine is switched
    // on, or the handle would start a private cookie store of its own.
    curl_easy_setopt(curl, CURLOPT_SHARE, client.share);
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");

    if (transfer.limits.connect_seconds > 0) {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, transfer.limits.connect_seconds);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, receive_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, check_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

}  // namespace

const char* fetch_error_text(FetchError error) {
    switch (error) {
        case FetchError::kNone:
            return "complete";
        case FetchError::kBadAddress:
            return "bad address";
        case FetchError::kResolve:
            return "cannot resolve";
        case FetchError::kConnect:
            return "cannot connect";
        case FetchError::kCertificate:
            return "certificate refused";
        case FetchError::kRedirects:
            return "too many redirects";
        case FetchError::kStalled:
            return "stalled";
        case FetchError::kTooSlow:
            return "too slow";
        case FetchError::kCutOff:
            return "cut off mid-body";
        case FetchError::kTooLarge:
            return "page too large";
        case FetchError::kStopped:
            return "stopped";
        case FetchError::kOther:
            break;
    }
    return "transfer failed";
}

void set_fetch_settings(const FetchSettings& settings) {
    std::lock_guard lock(settings_mutex);
    current_settings = settings;
}

FetchSettings fetch_settings() {
    std::lock_guard lock(settings_mutex);
    return current_settings;
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
    FetchInfo ignored;
    FetchInfo& out = info != nullptr ? *info : ignored;
    out = FetchInfo();
    out.attempts = 1;
    // The fragment belongs to the client alone and is never sent.
    url = url.substr(0, url.find('#'));
    if (url.empty()) {
        out.error = FetchError::kBadAddress;
        return {};
    }
    HttpClient* client = http_client();
    EasyHandle easy;
    if (client == nullptr || easy.get() == nullptr) {
        out.error = FetchError::kOther;
        out.detail = "the HTTP library could not be set up";
        return {};
    }
    Transfer transfer;
    transfer.cancel = cancel;
    transfer.limits = fetch_settings();
    transfer.content_type = &out.content_type;
    const std::string address(url);
    char error_buffer[CURL_ERROR_SIZE] = {};
    configure(easy.get(), *client, address, transfer, error_buffer);

    // Whatever the outcome, the bytes that arrived are the answer: a transfer
    // that broke off mid-body gives the part received, one that failed
    // before the body gives nothing.
    const CURLcode code = curl_easy_perform(easy.get());
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &out.status);
    curl_off_t retry_after = 0;
    if (curl_easy_getinfo(easy.get(), CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK &&
        retry_after > 0) {
        out.retry_after_seconds = static_cast<long>(retry_after);
    }
    out.error = classify(code, transfer);
    if (out.error != FetchError::kNone && transfer.error == FetchError::kNone) {
        out.detail = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code);
    }
    return std::move(transfer.body);
}

}  // namespace qinglan
