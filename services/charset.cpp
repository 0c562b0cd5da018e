#include "services/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "services/utf8.h"

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
    static const Converter keywords("UTF-8", "GBK");
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

bool keyword_to_gbk(std::string_view utf8, Text* gbk, std::string* refusal) {
    keep_code_pages_loaded();
    thread_local Converter strict("UTF-8", "GBK");
    if (!strict.ok()) {
        *refusal = "the system has no GBK conversion";
        return false;
    }
    iconv(strict.get(), nullptr, nullptr, nullptr, nullptr);
    Text out;
    char buffer[256];
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    while (in_left > 0) {
        char* dest = buffer;
        std::size_t dest_left = sizeof buffer;
        const std::size_t rc = iconv(strict.get(), &in, &in_left, &dest, &dest_left);
        out.append(buffer, static_cast<std::size_t>(dest - buffer));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // Stopped before a character it cannot write, or bytes it cannot read.
        const auto at = static_cast<std::size_t>(in - utf8.data());
        char32_t c = kIllFormedUtf8;
        decode_utf8(utf8, at, &c);
        if (c == kIllFormedUtf8) {
            *refusal = "the keyword is not UTF-8 text (byte " + std::to_string(at + 1) + ")";
        } else {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
            *refusal =
                std::string(name) + " is not a GBK character: the keyword cannot be searched";
        }
        return false;
    }
    *gbk = std::move(out);
    return true;
}

Text gbk(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

}  // namespace qinglan
