#include "update/update_check.h"

#include "services/charset.h"
#include "services/environment.h"
#include "services/fetch.h"

namespace qinglan {
namespace {

// The text of a file of the update server; empty when there is no server
// or it does not answer the file with success (an error page is no notice).
Text fetch_from(const std::string& host, std::string_view path) {
    if (host.empty()) {
        return {};
    }
    FetchInfo info;
    const Bytes body = fetch_page(host_address(host) + std::string(path), nullptr, &info);
    return info.status >= 200 && info.status < 300 ? bytes_to_text(body) : Text();
}

}  // namespace

Text text_between(std::string_view text, std::string_view left, std::string_view right) {
    const int p = find_text(text, left);
    if (p == -1) {
        return {};
    }
    const Text rest = mid_text(text, p + text_length(left), text_length(text));
    const int q = find_text(rest, right);
    return mid_text(rest, 1, q - 1);
}

UpdateDescriptor parse_update_descriptor(std::string_view descriptor) {
    static const Text version = gbk("版本:");
    static const Text address = gbk("更新地址:");
    static const Text description = gbk("版本说明:");
    static const Text manual = gbk("手动下载:");
    return {text_between(descriptor, version, "|"), text_between(descriptor, address, "|"),
            text_between(descriptor, description, "|"), text_between(descriptor, manual, "|")};
}

Text fetch_remote_notice(const std::string& host) {
    return fetch_from(host, "/123.txt");
}

std::optional<UpdateDescriptor> fetch_update_descriptor(const std::string& host) {
    const Text descriptor = fetch_from(host, "/up.txt");
    if (descriptor.empty()) {
        return std::nullopt;
    }
    return parse_update_descriptor(descriptor);
}

bool announces_update(const UpdateDescriptor& descriptor) {
    return descriptor.version != kBuiltInVersion;
}

std::string update_folder(const std::string& run_dir) {
    return run_dir + "/up";
}

std::string updater_path(const std::string& run_dir) {
    return update_folder(run_dir) + "/up";
}

bool write_handover_file(const std::string& run_dir, const std::string& program_name,
                         const UpdateDescriptor& descriptor) {
    const std::string ini = update_folder(run_dir) + "/up.ini";
    struct Item {
        const char* section;
        const char* key;
        Text value;
    };
    const Item items[] = {
        {"手动更新", "手动更新", descriptor.manual_download},
        {"版本号", "版本号", descriptor.version},
        {"更新路径", "版本更新地址", descriptor.update_address},
        {"版本说明", "更新版本说明", descriptor.description},
        {"软件运行目录", "软件运行目录", utf8_to_gbk(run_dir + "/")},
        {"软件名", "软件名称", utf8_to_gbk(program_name)},
        {"更新确定", "更新确定", "1"},
    };
    bool all_written = true;
    for (const Item& item : items) {
        all_written =
            write_ini_value(ini, gbk(item.section), gbk(item.key), item.value) && all_written;
    }
    return all_written;
}

}  // namespace qinglan
