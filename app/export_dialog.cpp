#include "app/export_dialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "app/window_fit.h"

namespace qinglan {

QString ExportDialog::caption() {
    return QStringLiteral("导出资料");
}

ExportDialog::ExportDialog(QWidget* parent, const ExportOffer& offer)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), offer_(offer) {
    setObjectName(QStringLiteral("export_dialog"));
    setWindowTitle(caption());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("选择要导出的关键字："), this));

    keywords_ = new QListWidget(this);
    keywords_->setObjectName(QStringLiteral("关键字列表"));
    auto* tab = new QListWidgetItem(
        QStringLiteral("当前结果页「%1」（%2 行）").arg(offer.tab_title).arg(offer.tab_rows),
        keywords_);
    tab->setCheckState(Qt::Checked);
    for (const ExportOffer::Keyword& keyword : offer.stored) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1（已保存 %2 行）").arg(from_utf8(keyword.keyword)).arg(keyword.rows),
            keywords_);
        item->setCheckState(Qt::Unchecked);
    }
    layout->addWidget(keywords_, 1);

    all_rows_ =
        new QRadioButton(QStringLiteral("当前结果页的全部 %1 行").arg(offer.tab_rows), this);
    all_rows_->setObjectName(QStringLiteral("全部行"));
    shown_rows_ = new QRadioButton(
        QStringLiteral("只导出筛选后显示的 %1 行").arg(std::max(offer.shown_rows, 0)), this);
    shown_rows_->setObjectName(QStringLiteral("显示的行"));
    // With a filter on, what is on the screen is what the user most likely means.
    (offer.shown_rows >= 0 ? shown_rows_ : all_rows_)->setChecked(true);
    all_rows_->setVisible(offer.shown_rows >= 0);
    shown_rows_->setVisible(offer.shown_rows >= 0);
    layout->addWidget(all_rows_);
    layout->addWidget(shown_rows_);

    merge_ = new QCheckBox(QStringLiteral("合并为一个工作表（同一用户账号只保留第一行）"), this);
    merge_->setObjectName(QStringLiteral("合并"));
    layout->addWidget(merge_);

    auto* buttons = new QDialogButtonBox(this);
    export_button_ = buttons->addButton(QStringLiteral("导出"), QDialogButtonBox::AcceptRole);
    export_button_->setObjectName(QStringLiteral("导出"));
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(keywords_, &QListWidget::itemChanged, this, &ExportDialog::update_controls);
    fit_to_screen(this, QSize(420, 360));
    update_controls();
}

void ExportDialog::update_controls() {
    const ExportChoice chosen = choice();
    const std::size_t count = (chosen.tab ? 1 : 0) + chosen.stored.size();
    all_rows_->setEnabled(chosen.tab);
    shown_rows_->setEnabled(chosen.tab);
    merge_->setEnabled(count > 1);
    export_button_->setEnabled(count > 0);
}

ExportChoice ExportDialog::choice() const {
    ExportChoice chosen;
    chosen.tab = keywords_->item(0)->checkState() == Qt::Checked;
    chosen.shown_only = offer_.shown_rows >= 0 && shown_rows_->isChecked();
    for (int row = 1; row < keywords_->count(); ++row) {
        if (keywords_->item(row)->checkState() == Qt::Checked) {
            chosen.stored.push_back(offer_.stored[static_cast<std::size_t>(row) - 1].keyword);
        }
    }
    chosen.merge = merge_->isEnabled() && merge_->isChecked();
    chosen.made = true;
    return chosen;
}

void ExportDialog::preset(const ExportChoice& choice) {
    keywords_->item(0)->setCheckState(choice.tab ? Qt::Checked : Qt::Unchecked);
    for (int row = 1; row < keywords_->count(); ++row) {
        const std::string& keyword = offer_.stored[static_cast<std::size_t>(row) - 1].keyword;
        const bool chosen =
            std::find(choice.stored.begin(), choice.stored.end(), keyword) != choice.stored.end();
        keywords_->item(row)->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
    }
    if (offer_.shown_rows >= 0) {
        (choice.shown_only ? shown_rows_ : all_rows_)->setChecked(true);
    }
    merge_->setChecked(choice.merge);
    update_controls();
}

}  // namespace qinglan
