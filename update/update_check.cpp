#include "update/update_check.h"

#include "services/charset.h"
#include "services/environment.h"
#include "services/fetch.h"

namespace qinglan {
namespace {}  // namespace

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

std::string notice_address(const std::string& host) {
    return host.empty() ? std::string() : host_address(host) + "/123.txt";
}

std::string descriptor_address(const std::string& host) {
    return host.empty() ? std::string() : host_address(host) + "/up.txt";
}

Text answer_text(const Bytes& body, const FetchInfo& info) {
    return info.status >= 200 && info.status < 300 ? bytes_to_text(body) : Text();
}

std::optional<UpdateDescriptor> descriptor_of(const Text& answer) {
    if (answer.empty()) {
        return std::nullopt;
    }
    return parse_update_descriptor(answer);
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
