#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // Tests talk only to servers they start on 127.0.0.1; a proxy set in the
    // environment must not route them elsewhere.
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
