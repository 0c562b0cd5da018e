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
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "app/settings_file.h"
#include "app/window_fit.h"
#include "services/fetch.h"

#include <vector>

namespace qinglan {
namespace {

// The settings the dialog shows, in its order: box by box, each in the
// table's order.
std::vector<const Setting*> shown_settings() {
    std::vector<const Setting*> shown;
    for (int group = 0; group < static_cast<int>(Group::kNone); ++group) {
        for (const Setting& setting : settings_table()) {
            if (static_cast<int>(setting.group) == group) {
                shown.push_back(&setting);
            }
        }
    }
    return shown;
}

// The hosts and the proxy on the left, the numbers on the right; or all
// of them one below the other.
void place_boxes(QGridLayout* grid, const std::vector<QGroupBox*>& boxes, int column_count) {
    const int per_column = column_count == 1 ? static_cast<int>(boxes.size()) : 2;
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        grid->removeWidget(boxes[k]);
        const int place = static_cast<int>(k);
        grid->addWidget(boxes[k], place % per_column, place / per_column);
    }
}

QString text_of(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
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
    auto* layout = new QVBoxLayout(this);
    // The fields scroll when the screen is too small for them; the buttons
    // below stay in reach.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("settings_scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* content_layout = new QVBoxLayout(content);
    content_layout->setContentsMargins(0, 0, 0, 0);
    auto* columns = new QGridLayout;
    std::map<Group, QFormLayout*> forms;
    std::vector<QGroupBox*> boxes;
    for (const Setting* setting : shown_settings()) {
        QFormLayout*& form = forms[setting->group];
        if (form == nullptr) {
            boxes.push_back(new QGroupBox(text_of(group_title(setting->group)), this));
            form = new QFormLayout(boxes.back());
            place_boxes(columns, boxes, 2);
        }
        add_field(*setting, form);
    }
    content_layout->addLayout(columns);
    auto* note = new QLabel(QStringLiteral("设置保存在 %1 中，确定后新开始的任务即按新设置采集；"
                                           "更新主机在下次启动时使用。")
                                .arg(from_utf8(settings_path(options_))),
                            this);
    note->setWordWrap(true);
    content_layout->addWidget(note);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("settings_buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    const QMargins margins = layout->contentsMargins();
    const QSize around(
        margins.left() + margins.right() + scroll->verticalScrollBar()->sizeHint().width(),
        margins.top() + margins.bottom() + layout->spacing() + buttons->sizeHint().height());
    // A screen too narrow for two columns of boxes gets one, which only
    // scrolls down.
    if (content->sizeHint().width() + around.width() > available_width(this)) {
        place_boxes(columns, boxes, 1);
    }
    fit_to_screen(this, content->sizeHint() + around);
}

void SettingsDialog::add_field(const Setting& setting, QFormLayout* form) {
    QWidget* box = form->parentWidget();
    const std::string key(setting.key);
    auto* edit = new QLineEdit(from_utf8(setting_value(setting, options_)), box);
    edit->setObjectName(QString::fromStdString(key));
    edit->setMinimumWidth(180);
    if (setting.rule.kind == Rule::kSecret) {
        edit->setEchoMode(QLineEdit::Password);
    }
    edit->setPlaceholderText(text_of(setting.empty_means));
    fields_[key] = edit;
    if (setting.rule.kind != Rule::kFile) {
        form->addRow(text_of(setting.label), edit);
        return;
    }
    auto* row = new QHBoxLayout;
    auto* browse = new QPushButton(QStringLiteral("浏览…"), box);
    browse->setObjectName(QStringLiteral("choose_") + QString::fromStdString(key));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this, &setting] { choose_file(setting); });
    row->addWidget(edit, 1);
    row->addWidget(browse);
    form->addRow(text_of(setting.label), row);
}

std::map<std::string, std::string> SettingsDialog::texts() const {
    std::map<std::string, std::string> texts;
    for (const auto& [key, edit] : fields_) {
        texts[key] = edit->text().trimmed().toStdString();
    }
    return texts;
}

bool SettingsDialog::check(const Setting& setting, const std::string& text) {
    Options tried = options_;
    const std::string key(setting.key);
    std::map<std::string, std::string> texts = {{key, text}};
    if (!setting.rule.floor.empty()) {
        // Held against the floor chosen with it, which was checked first.
        const std::string floor(setting.rule.floor);
        texts[floor] = fields_.at(floor)->text().trimmed().toStdString();
    }
    std::string error;
    if (apply_setting_texts(texts, &tried, &error)) {
        return true;
    }
    dialogs_.message(this,
                     QStringLiteral("「") + text_of(setting.label) +
                         QStringLiteral("」的值不能使用：") + text_of(rule_text(setting, text)),
                     Dialogs::Icon::kWarning, QString(), from_utf8(error));
    fields_.at(key)->setFocus();
    fields_.at(key)->selectAll();
    return false;
}

void SettingsDialog::accept() {
    const std::map<std::string, std::string> chosen = texts();
    // One by one first, so that the message names the field.
    for (const Setting* setting : shown_settings()) {
        if (!check(*setting, chosen.at(std::string(setting->key)))) {
            return;
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
    // So is a new site profile: one that does not load is refused.
    if (accepted.site_file != options_.site_file && !load_chosen_site(&accepted, &error)) {
        dialogs_.message(this, QStringLiteral("无法使用站点配置。"), Dialogs::Icon::kWarning,
                         QString(), from_utf8(error));
        fields_.at("profile")->setFocus();
        return;
    }
    if (!write_setting_texts(settings_path(options_), chosen, &error)) {
        dialogs_.message(this, QStringLiteral("无法保存设置。"), Dialogs::Icon::kWarning, QString(),
                         from_utf8(error));
        return;
    }
    options_ = std::move(accepted);
    QDialog::accept();
}

void SettingsDialog::choose_file(const Setting& setting) {
    QLineEdit* field = fields_.at(std::string(setting.key));
    const QString label = text_of(setting.label);
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("选择 ") + label, field->text(),
                                     label + QStringLiteral(" (") + text_of(setting.rule.unit) +
                                         QStringLiteral(");;所有文件 (*)"));
    if (!path.isEmpty()) {
        field->setText(path);
    }
}

}  // namespace qinglan
