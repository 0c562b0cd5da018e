#include "services/fetch.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "services/cookie_jar.h"
#include "services/curl_transfer.h"
#include "services/failure.h"
#include "services/small_file.h"
#include "services/transfer_loop.h"

namespace qinglan {
namespace {

// Kept to the end of the process, like the transfer loop that reads it.
struct SettingsStore {
    std::mutex mutex;
    FetchSettings settings;
};

SettingsStore& settings_store() {
    static auto* store = new SettingsStore;
    return *store;
}

// The bytes of a cookies file: a regular file of at most
// kMaxCookiesFileBytes.
bool read_cookies_file(const std::string& path, Bytes* text, std::string* error) {
    std::string why;
    return read_small_file(path, kMaxCookiesFileBytes, "cookies file", text, &why) ||
           fail(error, "cannot read the cookies file " + path + ": " + why);
}

// Runs one request on the transfer loop and waits for it.
Bytes fetch_and_wait(std::string_view url, const std::atomic<bool>* cancel, FetchInfo* info,
                     bool retry) {
    std::promise<std::pair<Bytes, FetchInfo>> promise;
    auto result = promise.get_future();
    TransferLoop::Request request;
    request.url = std::string(url);
    request.retry = retry;
    request.cancel = {cancel, nullptr};
    request.done = [&promise](Bytes body, FetchInfo got) {
        promise.set_value({std::move(body), std::move(got)});
    };
    TransferLoop::shared().submit(std::move(request));
    auto [body, got] = result.get();
    if (info != nullptr) {
        *info = std::move(got);
    }
    return std::move(body);
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
        case FetchError::kProxy:
            return "refused by the proxy";
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
    SettingsStore& store = settings_store();
    std::lock_guard lock(store.mutex);
    store.settings = settings;
}

FetchSettings fetch_settings() {
    SettingsStore& store = settings_store();
    std::lock_guard lock(store.mutex);
    return store.settings;
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
    return fetch_and_wait(url, cancel, info, false);
}

Bytes fetch_with_retries(std::string_view url, const std::atomic<bool>* cancel, FetchInfo* info) {
    return fetch_and_wait(url, cancel, info, true);
}

bool load_cookies_file(const std::string& path, std::string* error) {
    Bytes text;
    if (!read_cookies_file(path, &text, error)) {
        return false;
    }
    std::vector<Cookie> cookies;
    std::string why;
    if (!parse_cookies(text, &cookies, &why)) {
        return fail(error, path + ", " + why);
    }
    curl::Client* client = curl::client();
    if (client == nullptr) {
        return fail(error, "the HTTP library could not be set up");
    }
    client->file_cookies.add(std::move(cookies));
    return true;
}

bool fetch_failed(const FetchInfo& info) {
    return info.error != FetchError::kNone || info.status == 429 || info.status >= 500;
}

std::string fetch_failure_text(const FetchInfo& info) {
    if (info.error == FetchError::kNone) {
        return "server answered " + std::to_string(info.status);
    }
    std::string text = fetch_error_text(info.error);
    if (!info.detail.empty()) {
        text += " (" + info.detail + ")";
    }
    return text;
}

}  // namespace qinglan
