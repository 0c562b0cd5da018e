#include "services/charset.h"

#include <iconv.h>

#include <cerrno>

namespace qinglan {
namespace {

// Owns one iconv conversion descriptor.
class Converter {
public:
    Converter(const char* from, const char* to) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

constexpr int kMaxAttempts = 12;

// glibc loads each code page's converter as a module on first use and
// unloads it when its last conversion closes. Loading and unloading from
// many threads over and over is slow, and it happens inside the dynamic
// loader, whose lock the thread sanitizer cannot see. The code pages the
// program uses all the time therefore stay loaded for the whole run.
void keep_code_pages_loaded() {
    static const Converter decoder("GB18030", "UTF-8");
    static const Converter encoder("UTF-8", "GB18030");
    static const Converter checker("GB2312", "GB2312");
}

// The edge conversions run for every field of every member: each thread
// keeps its own open converter for each direction.
Converter& thread_converter(bool to_utf8) {
    keep_code_pages_loaded();
    thread_local Converter decoder("GB18030", "UTF-8");
    thread_local Converter encoder("UTF-8", "GB18030");
    return to_utf8 ? decoder : encoder;
}

// Converts all of the input, putting `replacement` in the place of each byte
// the source charset cannot decode.
std::string convert_lenient(std::string_view input, Converter& converter,
                            std::string_view replacement) {
    if (!converter.ok()) {
        return {};
    }
    iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);  // the initial state
    std::string out;
    out.reserve(input.size() * 3 / 2 + 16);
    char buffer[4096];
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    while (in_left > 0) {
        char* dest = buffer;
        std::size_t dest_left = sizeof buffer;
        const std::size_t rc = iconv(converter.get(), &in, &in_left, &dest, &dest_left);
        out.append(buffer, static_cast<std::size_t>(dest - buffer));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL: one byte cannot be decoded here.
        out.append(replacement);
        ++in;
        --in_left;
        iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    }
    char* dest = buffer;
    std::size_t dest_left = sizeof buffer;
    iconv(converter.get(), nullptr, nullptr, &dest, &dest_left);
    out.append(buffer, static_cast<std::size_t>(dest - buffer));
    return out;
}

}  // namespace

Bytes convert_charset(std::string_view bytes, const char* from_charset, const char* to_charset) {
    keep_code_pages_loaded();
    Converter converter(from_charset, to_charset);
    if (!converter.ok()) {
        return {};
    }
    // The output starts as long as the input and grows by half the input
    // plus 128 bytes each time iconv runs out of room.
    Bytes out(bytes.size(), '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    std::size_t produced = 0;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        char* dest = out.data() + produced;
        std::size_t dest_left = out.size() - produced;
        std::size_t rc = 0;
        if (in_left > 0) {
            rc = iconv(converter.get(), &in, &in_left, &dest, &dest_left);
        }
        if (rc != static_cast<std::size_t>(-1)) {
            // All input taken: write what a stateful target still holds.
            rc = iconv(converter.get(), nullptr, nullptr, &dest, &dest_left);
        }
        produced = static_cast<std::size_t>(dest - out.data());
        if (rc != static_cast<std::size_t>(-1)) {
            out.resize(produced);
            return out;
        }
        if (errno != E2BIG) {
            return {};
        }
        out.resize(out.size() + bytes.size() / 2 + 128);
    }
    return {};
}

std::string gbk_to_utf8(std::string_view gbk) {
    return convert_lenient(gbk, thread_converter(true), "\xEF\xBF\xBD");
}

Text utf8_to_gbk(std::string_view utf8) {
    return convert_lenient(utf8, thread_converter(false), "?");
}

Text gbk(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

}  // namespace qinglan
