#pragma once

// Reads a freshly written .xlsx back and confirms it is whole.
//
// libxlsxwriter assembles every part of the workbook in temporary files
// whose writes it never checks: on a full disk it zips whatever reached
// them and reports success, leaving a workbook that Excel calls corrupt.
// So the result is read back before it may take the chosen name: every part
// must inflate to the size and CRC the archive directory records, every XML
// part must end with the close of its root element, and the worksheet must
// hold the expected number of rows.
//
// The check can follow the file while it is still being written, so that
// on a second core it costs no time: follow() takes in whatever has been
// written so far, and finish(), once the writer is done, takes the rest and
// compares everything with the directory. Following is only a head start:
// anything unexpected in a growing file makes finish() read the complete
// file again from its start, so only the complete file decides.

#include <sys/types.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qinglan {

class WorkbookCheck {
public:
    explicit WorkbookCheck(std::string path);
    ~WorkbookCheck();
    WorkbookCheck(const WorkbookCheck&) = delete;
    WorkbookCheck& operator=(const WorkbookCheck&) = delete;

    // Reads and inflates what the writer has added since the last call.
    void follow();

    // The file is complete: false with the reason in `error` unless it is a
    // whole workbook whose first worksheet has exactly `sheet_rows` rows.
    bool finish(std::size_t sheet_rows, std::string* error);

    // What is learnt of one part while it is inflated.
    struct Part {
        std::string name;
        std::uint32_t crc = 0;
        std::size_t size = 0;
        std::string head;  // the first bytes, for the root element
        std::string tail;  // the last bytes, for its close
        std::size_t row_ends = 0;
        std::string carry;  // the previous data's last bytes, for a match across reads

        void take(const unsigned char* data, std::size_t size, bool count_rows);
        bool xml_complete() const;
    };

private:
    enum class State { kHeader, kData, kEnd, kStalled };

    bool read_at(off_t offset, std::size_t size, std::vector<unsigned char>* out) const;
    void restart();
    void stall();
    bool check_against_directory(std::size_t sheet_rows, std::string* error);

    const std::string path_;
    int descriptor_ = -1;
    int open_error_ = 0;
    State state_ = State::kHeader;
    off_t offset_ = 0;  // the next byte to take in
    z_stream stream_{};
    bool inflating_ = false;
    std::vector<unsigned char> input_, output_;
    std::vector<Part> parts_;  // the finished ones, and the one being inflated last
};

// The whole check of a complete file.
bool check_workbook(const std::string& path, std::size_t sheet_rows, std::string* error);

}  // namespace qinglan
