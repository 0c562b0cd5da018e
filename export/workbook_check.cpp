#include "export/workbook_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "services/failure.h"

namespace qinglan {
namespace {

constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::uint32_t kDirectoryEntry = 0x02014b50;
constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kDirectoryEntrySize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kChunk = 1 << 18;
constexpr std::string_view kSheetPart = "xl/worksheets/sheet1.xml";
constexpr std::string_view kRowEnd = "</row>";

std::uint32_t little_endian(const unsigned char* bytes, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

bool is_xml(const std::string& name) {
    return name.ends_with(".xml") || name.ends_with(".rels");
}

}  // namespace

void WorkbookCheck::Part::take(const unsigned char* data, std::size_t count, bool count_rows) {
    crc = static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(count)));
    size += count;
    const char* text = reinterpret_cast<const char*>(data);
    if (head.size() < 512) {
        head.append(text, std::min(count, 512 - head.size()));
    }
    if (count_rows) {
        // A match that ends here but starts in the previous data starts
        // within `carry`, that data's last bytes.
        const std::string_view view(text, count);
        const std::string joined =
            carry + std::string(view.substr(0, std::min(count, kRowEnd.size() - 1)));
        for (std::size_t at = joined.find(kRowEnd); at != std::string::npos && at < carry.size();
             at = joined.find(kRowEnd, at + 1)) {
            ++row_ends;
        }
        // memmem is several times faster than a find that stops at every '<'.
        const char* at = text;
        const char* const end = text + count;
        while ((at = static_cast<const char*>(memmem(at, static_cast<std::size_t>(end - at),
                                                     kRowEnd.data(), kRowEnd.size()))) != nullptr) {
            ++row_ends;
            at += kRowEnd.size();
        }
        carry += view.substr(count - std::min(count, kRowEnd.size() - 1));
        if (carry.size() > kRowEnd.size() - 1) {
            carry.erase(0, carry.size() - (kRowEnd.size() - 1));
        }
    }
    tail.append(text, count);
    if (tail.size() > 256) {
        tail.erase(0, tail.size() - 256);
    }
}

bool WorkbookCheck::Part::xml_complete() const {
    std::size_t at = 0;
    if (head.compare(0, 5, "<?xml") == 0) {
        at = head.find("?>");
        at = at == std::string::npos ? head.size() : at + 2;
    }
    at = head.find('<', at);
    if (at == std::string::npos) {
        return false;
    }
    const std::size_t name_end = head.find_first_of(" \t\r\n/>", at + 1);
    if (name_end == std::string::npos) {
        return false;
    }
    const std::string close = "</" + head.substr(at + 1, name_end - at - 1) + ">";
    std::size_t end = tail.find_last_not_of(" \t\r\n");
    end = end == std::string::npos ? 0 : end + 1;
    return end >= close.size() && tail.compare(end - close.size(), close.size(), close) == 0;
}

WorkbookCheck::WorkbookCheck(std::string path) : path_(std::move(path)) {
    descriptor_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    open_error_ = descriptor_ < 0 ? errno : 0;
    output_.resize(kChunk);
}

WorkbookCheck::~WorkbookCheck() {
    if (inflating_) {
        inflateEnd(&stream_);
    }
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

bool WorkbookCheck::read_at(off_t offset, std::size_t size, std::vector<unsigned char>* out) const {
    out->resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(descriptor_, out->data() + done, size - done,
                                  offset + static_cast<off_t>(done));
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void WorkbookCheck::stall() {
    state_ = State::kStalled;
}

void WorkbookCheck::restart() {
    state_ = State::kHeader;
    offset_ = 0;
    parts_.clear();
}

void WorkbookCheck::follow() {
    struct stat info {};
    if (descriptor_ < 0 || ::fstat(descriptor_, &info) != 0) {
        return stall();
    }
    const off_t size = info.st_size;
    std::vector<unsigned char> header;
    while (state_ == State::kHeader || state_ == State::kData) {
        if (state_ == State::kHeader) {
            if (size - offset_ < static_cast<off_t>(kLocalHeaderSize)) {
                // The end of the parts is the start of the directory, whose
                // entries are shorter than a local header.
                if (size - offset_ >= 4 && read_at(offset_, 4, &header) &&
                    little_endian(header.data(), 4) == kDirectoryEntry) {
                    state_ = State::kEnd;
                }
                return;
            }
            if (!read_at(offset_, kLocalHeaderSize, &header)) {
                return stall();
            }
            const std::uint32_t signature = little_endian(header.data(), 4);
            if (signature == kDirectoryEntry) {
                state_ = State::kEnd;
                return;
            }
            if (signature != kLocalHeader || little_endian(&header[8], 2) != Z_DEFLATED) {
                return stall();
            }
            const std::size_t name_size = little_endian(&header[26], 2);
            const std::size_t extra_size = little_endian(&header[28], 2);
            if (size - offset_ < static_cast<off_t>(kLocalHeaderSize + name_size + extra_size)) {
                return;
            }
            if (!read_at(offset_ + static_cast<off_t>(kLocalHeaderSize), name_size, &header)) {
                return stall();
            }
            Part part;
            part.name.assign(header.begin(), header.end());
            parts_.push_back(std::move(part));
            offset_ += static_cast<off_t>(kLocalHeaderSize + name_size + extra_size);
            const int started =
                inflating_ ? inflateReset(&stream_) : inflateInit2(&stream_, -MAX_WBITS);
            if (started != Z_OK) {
                return stall();
            }
            inflating_ = true;
            state_ = State::kData;
        }
        const std::size_t available = static_cast<std::size_t>(size - offset_);
        if (available == 0) {
            return;
        }
        const std::size_t chunk = std::min(available, kChunk);
        if (!read_at(offset_, chunk, &input_)) {
            return stall();
        }
        Part& part = parts_.back();
        const bool is_sheet = part.name == kSheetPart;
        stream_.next_in = input_.data();
        stream_.avail_in = static_cast<uInt>(chunk);
        int status;
        do {
            stream_.next_out = output_.data();
            stream_.avail_out = static_cast<uInt>(output_.size());
            status = inflate(&stream_, Z_NO_FLUSH);
            part.take(output_.data(), output_.size() - stream_.avail_out, is_sheet);
        } while (status == Z_OK && (stream_.avail_in > 0 || stream_.avail_out == 0));
        offset_ += static_cast<off_t>(chunk - stream_.avail_in);
        if (status == Z_STREAM_END) {
            state_ = State::kHeader;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            return stall();
        }
    }
}

bool WorkbookCheck::finish(std::size_t sheet_rows, std::string* error) {
    if (descriptor_ < 0) {
        return fail(error, "cannot read back " + path_ + ": " + std::strerror(open_error_));
    }
    follow();
    if (state_ != State::kEnd) {
        restart();
        follow();
    }
    if (state_ != State::kEnd) {
        if (parts_.empty()) {
            return fail(error, path_ + " is not a workbook");
        }
        return fail(error, parts_.back().name + " in " + path_ + " is damaged or incomplete");
    }
    return check_against_directory(sheet_rows, error);
}

bool WorkbookCheck::check_against_directory(std::size_t sheet_rows, std::string* error) {
    struct stat info {};
    ::fstat(descriptor_, &info);
    const off_t size = info.st_size;
    // The end record has no comment in what libxlsxwriter writes, but a
    // comment of up to 64 KiB is allowed, so look back that far.
    const off_t tail = std::min<off_t>(size, kEndRecordSize + 65535);
    std::vector<unsigned char> bytes;
    if (size < static_cast<off_t>(kEndRecordSize) ||
        !read_at(size - tail, static_cast<std::size_t>(tail), &bytes)) {
        return fail(error, path_ + " has no archive directory");
    }
    std::size_t end = bytes.size() - kEndRecordSize + 1;
    while (end-- > 0 && little_endian(&bytes[end], 4) != kEndOfDirectory) {
    }
    if (end == static_cast<std::size_t>(-1)) {
        return fail(error, path_ + " has no archive directory");
    }
    const std::size_t count = little_endian(&bytes[end + 10], 2);
    std::vector<unsigned char> directory;
    if (!read_at(little_endian(&bytes[end + 16], 4), little_endian(&bytes[end + 12], 4),
                 &directory)) {
        return fail(error, path_ + " has a damaged archive directory");
    }
    if (count != parts_.size()) {
        return fail(error, path_ + " does not hold the parts its directory lists");
    }
    std::size_t at = 0;
    bool has_sheet = false;
    for (const Part& part : parts_) {
        if (at + kDirectoryEntrySize > directory.size() ||
            little_endian(&directory[at], 4) != kDirectoryEntry) {
            return fail(error, path_ + " has a damaged archive directory");
        }
        const std::size_t name_size = little_endian(&directory[at + 28], 2);
        const std::string where = part.name + " in " + path_;
        if (at + kDirectoryEntrySize + name_size > directory.size() ||
            std::string_view(reinterpret_cast<const char*>(&directory[at + 46]), name_size) !=
                part.name ||
            little_endian(&directory[at + 16], 4) != part.crc ||
            little_endian(&directory[at + 24], 4) != part.size) {
            return fail(error, where + " is damaged or incomplete");
        }
        if (is_xml(part.name) && !part.xml_complete()) {
            return fail(error, where + " is cut short");
        }
        if (part.name == kSheetPart) {
            has_sheet = true;
            if (part.row_ends != sheet_rows) {
                return fail(error, where + " holds " + std::to_string(part.row_ends) +
                                       " rows instead of " + std::to_string(sheet_rows));
            }
        }
        at += kDirectoryEntrySize + name_size + little_endian(&directory[at + 30], 2) +
              little_endian(&directory[at + 32], 2);
    }
    return has_sheet || fail(error, path_ + " has no worksheet");
}

bool check_workbook(const std::string& path, std::size_t sheet_rows, std::string* error) {
    WorkbookCheck check(path);
    return check.finish(sheet_rows, error);
}

}  // namespace qinglan
