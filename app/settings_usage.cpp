// The usage's lines of the options and its paragraph of qinglan.ini's keys,
// made from the settings table.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_table.h"

namespace qinglan {
namespace {

constexpr std::size_t kHelpColumn = 30;  // where an option's help starts
constexpr std::size_t kLineWidth = 78;

// The sections of qinglan.ini in the order the usage names them.
struct Section {
    std::string_view name;
    std::string_view holds;
};

constexpr Section kSections[] = {{"hosts", "the hosts"},
                                 {"network", "the network settings"},
                                 {"database", "the server"},
                                 {"site", "the site profile"}};

// "a, b and c"
std::string listed(const std::vector<std::string_view>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += i == 0 ? "" : (i + 1 == items.size() ? " and " : ", ");
        text += items[i];
    }
    return text;
}

// The words of `text` in lines of at most kLineWidth characters.
std::string wrapped(std::string_view text) {
    std::string lines;
    std::string line;
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        if (!line.empty() && line.size() + 1 + word.size() > kLineWidth) {
            lines += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + std::string(word);
    }
    return lines + line + "\n";
}

}  // namespace

std::string setting_help(const Setting& setting) {
    std::string help(setting.help);
    if (const std::size_t mark = help.find("{}"); mark != std::string::npos) {
        help.replace(mark, 2, setting.default_text);
    }
    return help;
}

std::string usage_option_lines() {
    std::string lines;
    for (const Setting& setting : settings_table()) {
        if (setting.help.empty()) {
            continue;
        }
        std::string head = "  " + std::string(setting.option);
        if (!setting.value_name.empty()) {
            head += " " + std::string(setting.value_name);
        }
        head.resize(std::max(head.size() + 2, kHelpColumn), ' ');
        std::string help = setting_help(setting);
        for (std::size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += 1) {
            help.insert(at + 1, kHelpColumn, ' ');
        }
        lines += head + help + "\n";
    }
    return lines;
}

std::string usage_file_paragraph() {
    std::string text = "A host may start with https:// to use https.";
    for (const Section& section : kSections) {
        std::vector<std::string_view> keys;
        for (const Setting& setting : settings_table()) {
            if (setting.section == section.name) {
                keys.push_back(setting.key);
            }
        }
        if (&section == kSections) {
            std::string holds(section.holds);
            holds[0] = static_cast<char>(holds[0] - 'a' + 'A');
            text += " " + holds + " can also be set in qinglan.ini,";
        } else {
            text += "; " + std::string(section.holds) + " in";
        }
        text += " section [" + std::string(section.name) + "], " +
                (keys.size() == 1 ? "key " : "keys ") + listed(keys);
    }
    return wrapped(text + ".");
}

}  // namespace qinglan
