#pragma once

// Every setting of the program, described once: where qinglan.ini holds it,
// the option that overrides it, how the settings dialog shows it, what a
// value must be, its default and what the usage says of it. The usage, the
// reading and writing of the file, the checks of the command line and of the
// file, and the settings dialog are all made from this table, so a new
// setting is one more row (and the field of Options that holds it).

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace qinglan {

struct Options;

// A size held in bytes and set in MiB.
struct Mebibytes {
    std::size_t* bytes;
};

// Where a setting's value lives in Options.
using Place = std::variant<std::string*, long*, int*, bool*, Mebibytes>;

// What a value must be.
struct Rule {
    enum Kind {
        kText,          // anything
        kSecret,        // anything, never shown
        kFile,          // a file's path; the dialog offers to choose one
        kFlag,          // an option without a value
        kHost,          // HOST[:PORT], optionally after http:// or https://
        kOptionalHost,  // empty (none), or as kHost
        kServer,        // empty (none), or a PostgreSQL server's URL
        kStorePlace,    // a data folder, or a PostgreSQL server's URL
        kProxy,         // empty (the environment's), or a proxy's URL
        kNumber,        // a whole number from `low` (or `floor`'s value) to `high`
    };
    Kind kind = kText;
    long low = 0;
    long high = 0;
    std::string_view unit = {};   // a number's ("seconds"); a file's name pattern ("*.txt")
    std::string_view floor = {};  // a number at least this other setting (its key)
};

constexpr Rule number(long low, long high, std::string_view unit, std::string_view floor = {}) {
    return {Rule::kNumber, low, high, unit, floor};
}

// The boxes of the settings dialog, in its order.
enum class Group { kHosts, kProxy, kDatabase, kTogether, kTimeouts, kNone };

struct Setting {
    std::string_view section;     // of qinglan.ini; empty: an option of the command line only
    std::string_view key;         // of qinglan.ini
    std::string_view option;      // empty: only the file holds it (a login)
    std::string_view value_name;  // the option's value in the usage ("MS")
    Group group;                  // where the settings dialog shows it
    std::string_view label;       // in the settings dialog
    Rule rule;
    std::string_view default_text;  // what a new Options holds
    // In the usage after the option, "{}" standing for the default, a line
    // break for each further line; empty: not listed.
    std::string_view help;
    Place (*place)(Options&);
    std::string_view empty_means = {};  // what an empty value stands for, in the dialog
};

std::span<const Setting> settings_table();

// The setting of qinglan.ini's `key`, of the option `option`; nullptr for none.
const Setting* find_setting_by_key(std::string_view key);
const Setting* find_setting_by_option(std::string_view option);

std::string_view group_title(Group group);

// A setting's value as text, as qinglan.ini holds it.
std::string setting_value(const Setting& setting, const Options& options);

// A setting's text and what to call it in a message: the option, the key,
// or the key in the file.
struct GivenText {
    std::string text;
    std::string where;
};

// Checks the setting's text by its rule and takes it into `options`; a text
// not given keeps the value but for a number below its floor, which rises to
// it. False with the reason, naming `where`. A number given below its floor
// is taken: check_floor refuses it once every number has been read.
bool take_setting(const Setting& setting, const std::optional<GivenText>& given, Options* options,
                  std::string* error);

// False with the reason, naming `where`, when the number of `setting` (one
// with a floor) is below its floor's.
bool check_floor(const Setting& setting, const std::string& where, const Options& options,
                 std::string* error);

// What a value of `setting` must be, in the settings dialog's words, for the
// refused `text`.
std::string rule_text(const Setting& setting, std::string_view text);

// The setting's help text, its default filled in for "{}"; the lines as
// the usage breaks them.
std::string setting_help(const Setting& setting);

// The usage's lines of the options, and its paragraph of qinglan.ini's
// sections and keys.
std::string usage_option_lines();
std::string usage_file_paragraph();

}  // namespace qinglan
