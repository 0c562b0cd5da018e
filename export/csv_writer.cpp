#include "export/csv_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "services/failure.h"

namespace qinglan {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kFlushSize = 1 << 18;

// The first characters with which Excel takes a field for a formula (the
// tab and the CR because Excel drops them and looks at what follows).
bool looks_like_formula(const std::string& value) {
    return !value.empty() && std::string_view("=+-@\t\r").find(value[0]) != std::string_view::npos;
}

}  // namespace

CsvWriter::~CsvWriter() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

bool CsvWriter::start(const std::string& file, std::string* error) {
    file_ = file;
    descriptor_ = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (descriptor_ < 0) {
        return fail(error, "cannot open " + file + ": " + std::strerror(errno));
    }
    pending_.reserve(kFlushSize + 4096);
    pending_ = kByteOrderMark;
    return true;
}

void CsvWriter::set_cell(std::size_t column, const std::string& value) {
    if (column > 0) {
        pending_ += ',';
    }
    const bool guarded = looks_like_formula(value);
    if (!guarded && value.find_first_of(",\"\r\n") == std::string::npos) {
        pending_ += value;
        return;
    }
    pending_ += '"';
    if (guarded) {
        pending_ += '\'';
    }
    std::size_t from = 0;
    for (std::size_t quote = value.find('"'); quote != std::string::npos;
         quote = value.find('"', quote + 1)) {
        pending_.append(value, from, quote + 1 - from);
        pending_ += '"';
        from = quote + 1;
    }
    pending_.append(value, from, std::string::npos);
    pending_ += '"';
}

bool CsvWriter::end_row(std::size_t) {
    pending_ += "\r\n";
    return pending_.size() < kFlushSize || flush();
}

bool CsvWriter::flush() {
    std::size_t done = 0;
    while (write_error_ == 0 && done < pending_.size()) {
        const ssize_t n = ::write(descriptor_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            write_error_ = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    pending_.clear();
    return write_error_ == 0;
}

bool CsvWriter::finish(const std::function<void()>&, std::string* error) {
    if (!flush()) {
        return fail(error, "cannot write " + file_ + ": " + std::strerror(write_error_));
    }
    return true;
}

}  // namespace qinglan
