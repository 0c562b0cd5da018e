#pragma once

// The settings as texts by key of qinglan.ini: what the settings dialog
// shows, checks and writes into the file. The file may hold passwords (the
// logins, which only the file holds: an option would show them in the
// process list), so it is kept readable by its owner.

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/options.h"
#include "app/settings_table.h"

namespace qinglan {

// The text given for a setting, if any.
using SettingSource = std::function<std::optional<GivenText>(const Setting&)>;

// Takes every setting but the flags from `source` into `options`, in the
// table's order, each checked by its rule. False with the first reason.
bool take_settings(const SettingSource& source, Options* options, std::string* error);

// The settings as `options` has them, as texts by key: what qinglan.ini
// would hold for them.
std::map<std::string, std::string> setting_texts(const Options& options);

// Takes setting texts by key into `options`, each checked as parse_options
// checks it; a key left out keeps its value. False with the reason, naming
// the key ("parallel takes a number of members from 1 to 64"), and
// `options` unchanged.
bool apply_setting_texts(const std::map<std::string, std::string>& texts, Options* options,
                         std::string* error);

// Takes the settings only the file holds (the logins) from the settings
// file in use into `options`, as the file has them now.
void read_file_only_settings(Options* options);

// Writes setting texts by key into the settings file `ini` (its folder made
// when missing), each in its section; other lines of the file stay. The
// file is made readable by its owner only when it is created, and whenever
// it holds a password. False with the reason.
bool write_setting_texts(const std::string& ini, const std::map<std::string, std::string>& texts,
                         std::string* error);

}  // namespace qinglan
