#pragma once

// The remote notice and the version check against the update server. The
// notice is shown on the start page as it comes. The update descriptor holds
// labelled fields ("版本:", "更新地址:", "版本说明:", "手动下载:"), each value
// ending at the next "|"; when its version is not this program's, the
// fields are handed to the separate updater through up.ini in the update
// folder and the updater is started. All texts here are GBK, as served.
//
// The windows fetch the two files, without waiting for them, and decide
// what to show; this library names, parses and writes.

#include <optional>
#include <string>
#include <string_view>

#include "services/fetch.h"
#include "services/text.h"

namespace qinglan {

// The version this program is. Any other announced text, older, newer or
// empty, counts as an update.
inline constexpr std::string_view kBuiltInVersion = "v0.1";

// The bytes of `text` between the first `left` and the first `right` after
// it; empty when `right` does not follow. When `left` does not occur at all
// the result is empty too.
Text text_between(std::string_view text, std::string_view left, std::string_view right);

struct UpdateDescriptor {
    Text version;          // 版本:
    Text update_address;   // 更新地址:
    Text description;      // 版本说明:
    Text manual_download;  // 手动下载:
};

UpdateDescriptor parse_update_descriptor(std::string_view descriptor);

// Where the notice and the descriptor are on the update server at `host`
// ("HOST[:PORT]", optionally with "https://"); empty when there is no host.
std::string notice_address(const std::string& host);
std::string descriptor_address(const std::string& host);

// The text of an answer of the update server: empty unless it answered the
// file with success (an error page is no notice and no descriptor).
Text answer_text(const Bytes& body, const FetchInfo& info);

// The descriptor in an answer's text; nullopt for an empty text (a failed
// request, or an empty answer): the program then simply becomes ready.
std::optional<UpdateDescriptor> descriptor_of(const Text& answer);

// True when the descriptor announces a version other than this one.
bool announces_update(const UpdateDescriptor& descriptor);

// <run dir>/up, where up.ini is written and the updater "up" lives.
std::string update_folder(const std::string& run_dir);
std::string updater_path(const std::string& run_dir);

// Writes the seven items of up.ini, in order: the manual download address,
// the version, the update address, the description, the run directory (with
// a trailing separator), the program's file name and the confirmation "1".
// False when any write failed; the caller goes on all the same.
bool write_handover_file(const std::string& run_dir, const std::string& program_name,
                         const UpdateDescriptor& descriptor);

}  // namespace qinglan
