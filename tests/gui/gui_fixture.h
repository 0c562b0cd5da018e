#pragma once

// What the window tests share: message boxes that answer at once and keep
// what they were asked, a data folder, and a sample marketplace.

#include <QApplication>
#include <QString>
#include <QTest>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "engine/request.h"
#include "services/charset.h"
#include "tools/sample_marketplace.h"

namespace qinglan {

class RecordingDialogs final : public Dialogs {
public:
    struct Message {
        QString text;
        Icon icon;
        QString caption;
        QString details;
    };

    void message(QWidget*, const QString& text, Icon icon, const QString& caption,
                 const QString& details) override {
        messages.push_back({text, icon, caption.isEmpty() ? default_caption() : caption, details});
    }
    QString save_file_name(QWidget*, const QString& title, const QString& filter,
                           const QString& default_suffix) override {
        save_requests.push_back(title + "|" + filter + "|" + default_suffix);
        return save_answer;
    }

    std::vector<Message> messages;
    std::vector<QString> save_requests;
    QString save_answer;
};

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                ("qinglan-gui-" + std::to_string(::getpid()) + "-" + name)) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// A search page of `count` members for `keyword`, with minimal cards.
inline void serve_members(SampleMarketplace& market, const std::string& keyword,
                          const std::string& prefix, int count, int card_delay_ms = 0) {
    std::string page = "<p>";
    Behaviour slow;
    slow.delay_ms = card_delay_ms;
    for (int i = 0; i < count; ++i) {
        const std::string account = prefix + std::to_string(i);
        page += " companyId=\"" + account + "\"";
        market.set_resource("card/" + account, gbk("{\"name\":\"公司" + account +
                                                   "\",\"memberId\":\"" + account + "\",\"x\":1}"));
        market.set_behaviour("card/" + account, slow);
    }
    market.set_resource("search/" + encode_keyword(utf8_to_gbk(keyword)), page);
}

}  // namespace qinglan
