#include "app/settings_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "services/fetch.h"

#include <vector>

namespace qinglan {
namespace {

struct Field {
    const char* key;  // of qinglan.ini
    const char* label;
    bool secret = false;  // shown as dots, never as text
};

struct Group {
    const char* title;
    std::vector<Field> fields;
};

const Group kGroups[] = {
    {"主机",
     {{"search_host", "搜索主机"},
      {"member_host", "会员主机"},
      {"contact_domain", "联系页域名"},
      {"update_host", "更新主机"}}},
    {"代理和 Cookie",
     {{"proxy", "代理"},
      {"proxy_user", "代理用户名"},
      {"proxy_password", "代理密码", true},
      {"cookies", "Cookie 文件"}}},
    {"数据库",
     {{"url", "PostgreSQL 服务器（重新启动后生效）"},
      {"user", "数据库用户名"},
      {"password", "数据库密码", true}}},
    {"同时进行",
     {{"parallel", "每个关键字同时采集的用户数"},
      {"connections", "总连接数"},
      {"per_host", "每个主机的连接数"},
      {"delay", "同一主机两次请求的间隔（毫秒）"}}},
    {"超时和重试",
     {{"stall_timeout", "无数据超时（秒）"},
      {"slow_timeout", "低速超时（秒）"},
      {"page_timeout", "页面超时（秒）"},
      {"max_page_size", "页面大小上限（MiB）"},
      {"page_budget", "全部页面的内存上限（MiB）"},
      {"retries", "失败后重试次数"}}},
};

const Field* find_field(const std::string& key) {
    for (const Group& group : kGroups) {
        for (const Field& field : group.fields) {
            if (key == field.key) {
                return &field;
            }
        }
    }
    return nullptr;
}

// What a value of `key` must be, in the user's words.
QString rule_of(const std::string& key, const std::string& text) {
    if (key == "page_budget") {
        return QStringLiteral("须为不小于页面大小上限、不大于 65536 的整数。");
    }
    if (const auto range = setting_range(key)) {
        return QStringLiteral("须为 %1 到 %2 之间的整数。").arg(range->first).arg(range->second);
    }
    if (key == "proxy") {
        return QStringLiteral(
            "须为空（使用环境变量中的代理），或以 http://、https://、socks5://、socks5h:// "
            "开头，后接代理的主机和端口。");
    }
    if (key == "url") {
        return QStringLiteral(
            "须为空（使用本机的数据库文件），或以 postgresql:// 或 postgres:// 开头。");
    }
    if (key == "update_host") {
        return QStringLiteral("须为空（不检查更新），或为主机[:端口]。");
    }
    if (!text.empty()) {
        return QStringLiteral(
            "须为主机[:端口]（可以 http:// 或 https:// 开头），不能带路径、查询或用户名。");
    }
    return QStringLiteral("不能为空。");
}

}  // namespace

QString SettingsDialog::caption() {
    return QStringLiteral("设置");
}

SettingsDialog::SettingsDialog(QWidget* parent, Dialogs& dialogs, Options current)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      dialogs_(dialogs),
      options_(std::move(current)) {
    setObjectName(QStringLiteral("settings_dialog"));
    setWindowTitle(caption());
    setModal(true);
    const std::map<std::string, std::string> values = setting_texts(options_);
    auto* layout = new QVBoxLayout(this);
    auto* columns = new QGridLayout;
    int place = 0;
    for (const Group& group : kGroups) {
        auto* box = new QGroupBox(QString::fromUtf8(group.title), this);
        auto* form = new QFormLayout(box);
        for (const Field& field : group.fields) {
            auto* edit = new QLineEdit(from_utf8(values.at(field.key)), box);
            edit->setObjectName(QString::fromLatin1(field.key));
            edit->setMinimumWidth(180);
            if (field.secret) {
                edit->setEchoMode(QLineEdit::Password);
            }
            fields_[field.key] = edit;
            if (std::string(field.key) == "cookies") {
                auto* row = new QHBoxLayout;
                auto* browse = new QPushButton(QStringLiteral("浏览…"), box);
                browse->setObjectName(QStringLiteral("choose_cookies"));
                browse->setAutoDefault(false);
                connect(browse, &QPushButton::clicked, this, &SettingsDialog::choose_cookies_file);
                row->addWidget(edit, 1);
                row->addWidget(browse);
                form->addRow(QString::fromUtf8(field.label), row);
            } else {
                form->addRow(QString::fromUtf8(field.label), edit);
            }
        }
        // The hosts and the proxy on the left, the numbers on the right.
        columns->addWidget(box, place % 2, place / 2);
        ++place;
    }
    layout->addLayout(columns);
    auto* note = new QLabel(
        QStringLiteral("设置保存在数据目录的 qinglan.ini 中，确定后新开始的任务即按新设置采集；"
                       "更新主机在下次启动时使用。"),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("settings_buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::map<std::string, std::string> SettingsDialog::texts() const {
    std::map<std::string, std::string> texts;
    for (const auto& [key, edit] : fields_) {
        texts[key] = edit->text().trimmed().toStdString();
    }
    return texts;
}

bool SettingsDialog::check(const std::string& key, const std::string& text) {
    Options tried = options_;
    std::map<std::string, std::string> texts = {{key, text}};
    if (key == "page_budget") {
        // Held against the page cap chosen with it, which was checked first.
        texts["max_page_size"] = fields_.at("max_page_size")->text().trimmed().toStdString();
    }
    std::string error;
    if (apply_setting_texts(texts, &tried, &error)) {
        return true;
    }
    const Field* field = find_field(key);
    dialogs_.message(this,
                     QStringLiteral("「") + QString::fromUtf8(field->label) +
                         QStringLiteral("」的值不能使用：") + rule_of(key, text),
                     Dialogs::Icon::kWarning, QString(), from_utf8(error));
    fields_.at(key)->setFocus();
    fields_.at(key)->selectAll();
    return false;
}

void SettingsDialog::accept() {
    const std::map<std::string, std::string> chosen = texts();
    // One by one first, so that the message names the field.
    for (const Group& group : kGroups) {
        for (const Field& field : group.fields) {
            if (!check(field.key, chosen.at(field.key))) {
                return;
            }
        }
    }
    Options accepted = options_;
    std::string error;
    if (!apply_setting_texts(chosen, &accepted, &error)) {
        dialogs_.message(this, QStringLiteral("设置不能使用。"), Dialogs::Icon::kWarning, QString(),
                         from_utf8(error));
        return;
    }
    // A new cookies file is read now: one that cannot be read is refused.
    if (!accepted.cookies.empty() && accepted.cookies != options_.cookies &&
        !load_cookies_file(accepted.cookies, &error)) {
        dialogs_.message(this, QStringLiteral("无法读取 Cookie 文件。"), Dialogs::Icon::kWarning,
                         QString(), from_utf8(error));
        fields_.at("cookies")->setFocus();
        return;
    }
    if (!write_setting_texts(options_.data_dir, chosen, &error)) {
        dialogs_.message(this, QStringLiteral("无法保存设置。"), Dialogs::Icon::kWarning, QString(),
                         from_utf8(error));
        return;
    }
    options_ = std::move(accepted);
    QDialog::accept();
}

void SettingsDialog::choose_cookies_file() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("选择 Cookie 文件"), fields_.at("cookies")->text(),
        QStringLiteral("Cookie 文件 (*.txt);;所有文件 (*)"));
    if (!path.isEmpty()) {
        fields_.at("cookies")->setText(path);
    }
}

}  // namespace qinglan
