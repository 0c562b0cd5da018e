#pragma once

// The contact record: twelve texts in a fixed order, which is the column
// order of every result list, of the stored row's insert and of the export.

#include <array>
#include <string>
#include <string_view>

namespace qinglan {

inline constexpr int kRecordFields = 12;

using ContactRecord = std::array<std::string, kRecordFields>;

enum RecordField : int {
    kCompanyName = 0,  // 公司名称
    kContactName,      // 联系人
    kAccount,          // 用户账号
    kDepartment,       // 部门
    kPosition,         // 职位
    kFormOfAddress,    // 称呼
    kTelephone,        // 电话
    kFax,              // 传真
    kMobile,           // 移动电话
    kAddress,          // 地址
    kPostalCode,       // 邮编
    kWebsite,          // 网站
};

// The stored column name of each record field, in record order (UTF-8).
inline constexpr std::array<std::string_view, kRecordFields> kRecordColumnNames = {
    "公司名称", "联系人", "用户账号", "部门", "职位", "称呼",
    "电话",     "传真",   "移动电话", "地址", "邮编", "网站",
};

}  // namespace qinglan
