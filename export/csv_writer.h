#pragma once

// A CSV file (RFC 4180) in UTF-8 with a byte-order mark, the form in which
// Excel opens Chinese text correctly: fields separated by commas, records
// ended by CR LF, a field quoted (with its quotes doubled) when it holds a
// comma, a quote, a CR or a LF. Every value is written byte for byte, of any
// length, except one that a spreadsheet would run as a formula when it opens
// the file (one starting with "=", "+", "-", "@", a tab or a CR): that one is
// written with an apostrophe in front, which keeps it a text.
//
// A CSV file holds a single table, so there is a single sheet. Write
// failures come back from finish() with the system's reason.

#include <string>

#include "export/table_sink.h"

namespace qinglan {

class CsvWriter final : public TableSink {
public:
    CsvWriter() = default;
    ~CsvWriter() override;
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    // Opens `file` (which is truncated) and writes the byte-order mark.
    bool start(const std::string& file, std::string* error);

    void begin_sheet(std::size_t) override {}
    void set_cell(std::size_t column, const std::string& value) override;
    bool end_row(std::size_t columns) override;
    bool finish(const std::function<void()>& waiting, std::string* error) override;
    const CellLosses& losses() const override { return losses_; }

private:
    bool flush();

    int descriptor_ = -1;
    std::string file_;
    std::string pending_;  // written in large pieces
    int write_error_ = 0;
    CellLosses losses_;  // none: a CSV field holds any value
};

}  // namespace qinglan
