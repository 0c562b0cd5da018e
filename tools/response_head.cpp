#include "tools/response_head.h"

namespace qinglan {

std::string_view reason_phrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 407:
            return "Proxy Authentication Required";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string response_head(std::string_view request_version, int status,
                          std::string_view content_type, std::optional<std::size_t> length,
                          const std::vector<std::string>& extra_headers) {
    std::string head = request_version == "HTTP/1.0" ? "HTTP/1.0 " : "HTTP/1.1 ";
    head += std::to_string(status);
    head += ' ';
    head += reason_phrase(status);
    head += "\r\nConnection: close\r\n";
    if (!content_type.empty()) {
        head += "Content-Type: ";
        head += content_type;
        head += "\r\n";
    }
    if (length) {
        head += "Content-Length: " + std::to_string(*length) + "\r\n";
    }
    for (const std::string& line : extra_headers) {
        head += line;
        head += "\r\n";
    }
    head += "\r\n";
    return head;
}

}  // namespace qinglan
