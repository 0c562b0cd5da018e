#include "export/deflate_level.h"

#include <dlfcn.h>
#include <zlib.h>

namespace {

constexpr int kNoLevel = -100;  // the caller's own level stands
thread_local int chosen_level = kNoLevel;

using DeflateInit = int (*)(z_streamp, int, int, int, int, int, const char*, int);

}  // namespace

namespace qinglan {

DeflateLevel::DeflateLevel(int level) : previous_(chosen_level) {
    chosen_level = level;
}

DeflateLevel::~DeflateLevel() {
    chosen_level = previous_;
}

}  // namespace qinglan

// Every deflate stream of the process starts here, as the program's own
// definition comes before zlib's; zlib's does the work.
extern "C" int deflateInit2_(z_streamp stream, int level, int method, int window_bits,
                             int memory_level, int strategy, const char* version, int stream_size) {
    static const auto zlib_init = reinterpret_cast<DeflateInit>(dlsym(RTLD_NEXT, "deflateInit2_"));
    if (zlib_init == nullptr) {
        return Z_VERSION_ERROR;
    }
    if (chosen_level != kNoLevel) {
        level = chosen_level;
    }
    return zlib_init(stream, level, method, window_bits, memory_level, strategy, version,
                     stream_size);
}
