#include "services/fetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// What a file's kind is called when it is not a regular file.
const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

std::string too_large_text() {
    return "it is larger than " + std::to_string(kMaxCookiesFileBytes >> 20) +
           " MiB, the most a cookies file may be";
}

// Why the open file `fd` is no cookies file to read; empty when it may be.
std::string refusal_of(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return std::string("it is ") + kind_of(status.st_mode) + ", not a file";
    }
    if (static_cast<std::uintmax_t>(status.st_size) > kMaxCookiesFileBytes) {
        return too_large_text();
    }
    return {};
}

// Reads `fd` to its end into `text`; why not, when it cannot, or when it
// grew past the limit meanwhile.
std::string read_all(int fd, Bytes* text) {
    std::vector<char> chunk(std::size_t{1} << 16);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::strerror(errno);
        }
        if (n == 0) {
            return {};
        }
        if (text->size() + static_cast<std::size_t>(n) > kMaxCookiesFileBytes) {
            return too_large_text();
        }
        text->append(chunk.data(), static_cast<std::size_t>(n));
    }
}

// The bytes of a cookies file. Only a regular file of at most
// kMaxCookiesFileBytes is read: a pipe would hold the program up for ever
// and a device such as /dev/zero would fill its memory. Opened without
// blocking, so that not even the open waits for a pipe's writer.
bool read_cookies_file(const std::string& path, Bytes* text, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail(error, "cannot read the cookies file " + path + ": " + std::strerror(errno));
    }
    std::string why = refusal_of(fd);
    if (why.empty()) {
        why = read_all(fd, text);
    }
    ::close(fd);
    if (!why.empty()) {
        return fail(error, "cannot read the cookies file " + path + ": " + why);
    }
    return true;
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
