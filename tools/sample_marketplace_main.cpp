// sample_marketplace --dir DIR [--port N]
//
// Serves DIR as the sample marketplace on 127.0.0.1 until SIGINT or SIGTERM.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/sample_marketplace.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: sample_marketplace --dir DIR [--port N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    long port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (arg == "--port" && i + 1 < argc) {
            char* end = nullptr;
            port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) {
                return usage();
            }
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

    qinglan::SampleMarketplace marketplace;
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
