// sample_marketplace --dir DIR [--port N] [--delay-ms MS] [--behaviour KEY=WHAT]...
//
// Serves DIR as the sample marketplace on 127.0.0.1 until SIGINT or SIGTERM.
// --delay-ms holds every answer whose key has no behaviour of its own that
// long, so a collection lasts long enough to be interrupted; --behaviour
// (see behaviour_option.h) may be given for any number of keys.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/behaviour_option.h"
#include "tools/sample_marketplace.h"

namespace {

int usage(const std::string& reason = {}) {
    if (!reason.empty()) {
        std::fprintf(stderr, "sample_marketplace: %s\n", reason.c_str());
    }
    std::fprintf(stderr,
                 "usage: sample_marketplace --dir DIR [--port N] [--delay-ms MS] "
                 "[--behaviour KEY=WHAT[,WHAT...]]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    long port = 0;
    qinglan::SampleMarketplace marketplace;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string_view value = argv[++i];
        if (arg == "--dir") {
            dir = value;
        } else if (arg == "--port") {
            char* end = nullptr;
            port = std::strtol(value.data(), &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) {
                return usage();
            }
        } else if (arg == "--delay-ms") {
            qinglan::Behaviour delayed;
            if (!qinglan::parse_milliseconds(value, &delayed.delay_ms)) {
                return usage("--delay-ms takes a number of milliseconds up to 3600000");
            }
            marketplace.set_default_behaviour(delayed);
        } else if (arg == "--behaviour") {
            std::string key, error;
            qinglan::Behaviour behaviour;
            if (!qinglan::parse_behaviour_option(value, &key, &behaviour, &error)) {
                return usage(error);
            }
            marketplace.set_behaviour(std::move(key), std::move(behaviour));
        } else {
            return usage();
        }
    }
    if (dir.empty()) {
        return usage();
    }

    // Blocked before any thread starts, so every thread inherits the mask and
    // the signals wait for sigwait below instead of killing the process.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    marketplace.serve_folder(dir);
    if (!marketplace.start(static_cast<std::uint16_t>(port))) {
        std::fprintf(stderr, "sample_marketplace: cannot listen on 127.0.0.1:%ld\n", port);
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(marketplace.port()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    marketplace.stop();
    return 0;
}
