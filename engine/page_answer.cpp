#include "engine/page_answer.h"

#include <utility>

#include "engine/page_text.h"
#include "services/charset.h"

namespace qinglan {

std::string chinese_reason(const FetchInfo& info) {
    const char* reason = "传输失败";
    switch (info.error) {
        case FetchError::kNone:
            return "服务器返回 " + std::to_string(info.status);
        case FetchError::kBadAddress:
            reason = "地址无效";
            break;
        case FetchError::kResolve:
            reason = "无法解析主机名";
            break;
        case FetchError::kConnect:
            reason = "无法连接服务器";
            break;
        case FetchError::kProxy:
            reason = "代理服务器拒绝登录";
            break;
        case FetchError::kCertificate:
            reason = "证书被拒绝";
            break;
        case FetchError::kRedirects:
            reason = "重定向次数过多";
            break;
        case FetchError::kStalled:
            reason = "服务器长时间无响应";
            break;
        case FetchError::kTooSlow:
            reason = "传输过慢";
            break;
        case FetchError::kCutOff:
            reason = "连接中途断开";
            break;
        case FetchError::kTooLarge:
            reason = "页面过大";
            break;
        case FetchError::kStopped:
            reason = "已停止";
            break;
        case FetchError::kOther:
            break;
    }
    return std::string(reason) + "（" + fetch_failure_text(info) + "）";
}

std::string blocked_reason(const Text& page) {
    return "blocked by the site (\"" + gbk_to_utf8(page_title(page)) + "\")";
}

std::function<bool(const Bytes&, const FetchInfo&)> block_judge(std::shared_ptr<const Site> site,
                                                                std::string keyword,
                                                                bool search_page) {
    if (!site->may_block(search_page)) {
        return {};
    }
    return [site = std::move(site), keyword = std::move(keyword), search_page](
               const Bytes& body, const FetchInfo& info) {
        return site->blocked(site->page_text(body, info.content_type), search_page, keyword);
    };
}

}  // namespace qinglan
