#pragma once

// Reads back what a spreadsheet program would see in the first worksheet of
// an .xlsx file: each cell's text, its type and the number format of its
// style. The parts are taken out with unzip and read with just enough XML
// parsing for what the exporter writes; escapes are undone as Excel does
// (entities, then "_xHHHH_" from left to right).

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/app/child_process.h"

namespace qinglan {

struct SheetCell {
    int style = 0;           // index into the cell formats, 0 when absent
    std::string type;        // the t attribute: "inlineStr", "s", "str", "n", ...
    bool has_value = false;  // false for a blank cell
    std::string text;
};

class WorkbookReader {
public:
    // False when the file is not a workbook this reader understands.
    bool read(const std::string& path, std::string* error) {
        std::string sheet, styles, strings;
        if (!extract(path, "xl/worksheets/sheet1.xml", &sheet, error) ||
            !extract(path, "xl/styles.xml", &styles, error)) {
            return false;
        }
        extract(path, "xl/sharedStrings.xml", &strings, nullptr);  // absent when inline
        read_shared_strings(strings);
        read_styles(styles);
        read_column_widths(sheet);
        return read_sheet(sheet, error);
    }

    // The width set for 0-based column `column`; 0 when none is set.
    double column_width(int column) const {
        const auto found = column_widths_.find(column);
        return found == column_widths_.end() ? 0 : found->second;
    }

    const std::map<std::string, SheetCell>& cells() const { return cells_; }
    int last_row() const { return last_row_; }

    const SheetCell* cell(const std::string& reference) const {
        const auto found = cells_.find(reference);
        return found == cells_.end() ? nullptr : &found->second;
    }
    std::string text(const std::string& reference) const {
        const SheetCell* found = cell(reference);
        return found != nullptr ? found->text : std::string();
    }
    // The numFmtId of a cell's style; -1 for a style that does not exist.
    int number_format(const std::string& reference) const {
        const SheetCell* found = cell(reference);
        const int style = found != nullptr ? found->style : 0;
        return style >= 0 && static_cast<std::size_t>(style) < cell_formats_.size()
                   ? cell_formats_[static_cast<std::size_t>(style)]
                   : -1;
    }

    static std::string reference(int column, int row) {
        std::string name(1, static_cast<char>('A' + column));
        name += std::to_string(row);
        return name;
    }

    // Entities, then the "_xHHHH_" escapes, as a spreadsheet reads a <t>.
    static std::string unescape(std::string_view xml) {
        std::string entities;
        for (std::size_t i = 0; i < xml.size(); ++i) {
            if (xml[i] != '&') {
                entities += xml[i];
                continue;
            }
            const std::size_t end = xml.find(';', i);
            const std::string_view name = xml.substr(i + 1, end - i - 1);
            if (name == "amp")
                entities += '&';
            else if (name == "lt")
                entities += '<';
            else if (name == "gt")
                entities += '>';
            else if (name == "quot")
                entities += '"';
            else if (name == "apos")
                entities += '\'';
            else if (!name.empty() && name[0] == '#') {
                const bool hex = name.size() > 1 && name[1] == 'x';
                append_utf8(&entities, std::strtoul(std::string(name.substr(hex ? 2 : 1)).c_str(),
                                                    nullptr, hex ? 16 : 10));
            }
            i = end;
        }
        std::string text;
        for (std::size_t i = 0; i < entities.size(); ++i) {
            if (entities[i] == '_' && i + 7 <= entities.size() && entities[i + 1] == 'x' &&
                entities[i + 6] == '_' && is_hex(entities.substr(i + 2, 4))) {
                append_utf8(&text, std::strtoul(entities.substr(i + 2, 4).c_str(), nullptr, 16));
                i += 6;
            } else {
                text += entities[i];
            }
        }
        return text;
    }

private:
    static bool extract(const std::string& path, const std::string& part, std::string* xml,
                        std::string* error) {
        Child unzip({"/usr/bin/unzip", "-p", path, part});
        const int status = unzip.wait();
        *xml = unzip.output();
        if (status != 0 || xml->empty()) {
            if (error != nullptr) {
                *error = "unzip " + part + " of " + path + ": status " + std::to_string(status) +
                         " " + unzip.errors();
            }
            return false;
        }
        return true;
    }

    static bool is_hex(std::string_view digits) {
        for (const char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                return false;
            }
        }
        return true;
    }

    static void append_utf8(std::string* out, unsigned long cp) {
        if (cp < 0x80) {
            *out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            *out += static_cast<char>(0xC0 | (cp >> 6));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += static_cast<char>(0xE0 | (cp >> 12));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (cp >> 18));
            *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // The value of attribute `name` in the start tag `tag`.
    static std::string attribute(std::string_view tag, std::string_view name) {
        const std::string key = " " + std::string(name) + "=\"";
        const std::size_t at = tag.find(key);
        if (at == std::string_view::npos) {
            return {};
        }
        const std::size_t start = at + key.size();
        return std::string(tag.substr(start, tag.find('"', start) - start));
    }

    // The concatenated text of every <t> element in `xml`.
    static std::string all_texts(std::string_view xml) {
        std::string text;
        std::size_t at = 0;
        while ((at = xml.find("<t", at)) != std::string_view::npos) {
            const std::size_t open_end = xml.find('>', at);
            if (xml[at + 2] != '>' && xml[at + 2] != ' ') {  // <tag...> other than <t>
                at = open_end;
                continue;
            }
            if (xml[open_end - 1] == '/') {  // <t/>
                at = open_end;
                continue;
            }
            const std::size_t close = xml.find("</t>", open_end);
            text += unescape(xml.substr(open_end + 1, close - open_end - 1));
            at = close + 4;
        }
        return text;
    }

    void read_shared_strings(std::string_view xml) {
        std::size_t at = 0;
        while ((at = xml.find("<si>", at)) != std::string_view::npos) {
            const std::size_t end = xml.find("</si>", at);
            shared_strings_.push_back(all_texts(xml.substr(at, end - at)));
            at = end;
        }
    }

    void read_styles(std::string_view xml) {
        const std::size_t start = xml.find("<cellXfs");
        const std::size_t end = xml.find("</cellXfs>");
        if (start == std::string_view::npos || end == std::string_view::npos) {
            return;
        }
        std::size_t at = start;
        while ((at = xml.find("<xf ", at)) != std::string_view::npos && at < end) {
            const std::size_t tag_end = xml.find('>', at);
            const std::string id = attribute(xml.substr(at, tag_end - at), "numFmtId");
            cell_formats_.push_back(id.empty() ? 0 : std::stoi(id));
            at = tag_end;
        }
    }

    // The <col min max width> elements of <cols>.
    void read_column_widths(std::string_view xml) {
        column_widths_.clear();
        for (std::size_t at = xml.find("<col "); at != std::string_view::npos;
             at = xml.find("<col ", at + 1)) {
            const std::string_view tag = xml.substr(at, xml.find('>', at) - at);
            const std::string width = attribute(tag, "width");
            if (width.empty()) {
                continue;
            }
            for (int column = std::stoi(attribute(tag, "min"));
                 column <= std::stoi(attribute(tag, "max")); ++column) {
                column_widths_[column - 1] = std::stod(width);
            }
        }
    }

    bool read_sheet(std::string_view xml, std::string* error) {
        std::size_t at = 0;
        while ((at = xml.find("<c ", at)) != std::string_view::npos) {
            const std::size_t tag_end = xml.find('>', at);
            const std::string_view tag = xml.substr(at, tag_end - at + 1);
            const std::string reference = attribute(tag, "r");
            SheetCell cell;
            const std::string style = attribute(tag, "s");
            cell.style = style.empty() ? 0 : std::stoi(style);
            cell.type = attribute(tag, "t");
            if (tag[tag.size() - 2] == '/') {
                at = tag_end;
            } else {
                const std::size_t close = xml.find("</c>", tag_end);
                const std::string_view inner = xml.substr(tag_end + 1, close - tag_end - 1);
                cell.has_value = true;
                if (cell.type == "inlineStr") {
                    cell.text = all_texts(inner);
                } else {
                    const std::size_t v = inner.find("<v>");
                    const std::string value(inner.substr(v + 3, inner.find("</v>") - v - 3));
                    if (cell.type == "s") {
                        const std::size_t index = std::stoul(value);
                        if (index >= shared_strings_.size()) {
                            *error = reference + " refers to a missing shared string";
                            return false;
                        }
                        cell.text = shared_strings_[index];
                    } else {
                        cell.text = unescape(value);
                    }
                }
                at = close;
            }
            std::size_t digits = 0;
            while (digits < reference.size() &&
                   !std::isdigit(static_cast<unsigned char>(reference[digits]))) {
                ++digits;
            }
            if (digits == reference.size()) {
                *error = "a cell without a reference";
                return false;
            }
            last_row_ = std::max(last_row_, std::stoi(reference.substr(digits)));
            cells_[reference] = std::move(cell);
        }
        return true;
    }

    std::map<std::string, SheetCell> cells_;
    std::vector<std::string> shared_strings_;
    std::vector<int> cell_formats_;
    int last_row_ = 0;
    std::map<int, double> column_widths_;
};

}  // namespace qinglan
