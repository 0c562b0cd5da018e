#include "app/result_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/result_list_model.h"
#include "app/result_list_view.h"
#include "app/stored_rows_loader.h"
#include "app/warning_banner.h"

namespace qinglan {

ResultPage::ResultPage(const QString& keyword, int number, QWidget* parent)
    : QWidget(parent), keyword_(keyword) {
    setObjectName(QStringLiteral("结果页_") + QString::number(number));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(2);
    banner_ = new_warning_banner(this);
    layout->addWidget(banner_);
    auto* filter_box = new QLineEdit(this);
    filter_box->setObjectName(QStringLiteral("筛选框"));
    filter_box->setPlaceholderText(QStringLiteral("筛选：输入任一列中的文字"));
    filter_box->setClearButtonEnabled(true);
    shown_count_ = new QLabel(this);
    shown_count_->setObjectName(QStringLiteral("筛选行数"));
    auto* filter_line = new QHBoxLayout;
    filter_line->setSpacing(6);
    filter_line->addWidget(filter_box, 1);
    filter_line->addWidget(shown_count_);
    layout->addLayout(filter_line);
    model_ = new ResultListModel(this);
    view_ = new ResultListView(model_, this);
    view_->setObjectName(QStringLiteral("超级列表框_主窗口_") + QString::number(number));
    layout->addWidget(view_, 1);
    connect(filter_box, &QLineEdit::textChanged, model_, &ResultListModel::set_filter);
    // Rows arriving under a filter join it at the model's next refresh:
    // the count of all rows moves at once, the count shown then.
    connect(model_, &QAbstractItemModel::layoutChanged, this, &ResultPage::show_row_counts);
    connect(model_, &QAbstractItemModel::modelReset, this, &ResultPage::show_row_counts);
    connect(model_, &ResultListModel::total_rows_changed, this, &ResultPage::show_row_counts);
    show_row_counts();
}

void ResultPage::show_row_counts() {
    shown_count_->setText(
        QStringLiteral("显示 %1 / %2 行").arg(model_->rowCount()).arg(model_->total_rows()));
}

// The reading goes before the model it fills.
ResultPage::~ResultPage() {
    loader_.reset();
}

void ResultPage::load(RecordStore& store, int row_limit,
                      std::function<void(const QString&)> on_failure) {
    loader_.reset();
    loader_ = std::make_unique<StoredRowsLoader>(store, keyword_.toStdString(), row_limit, model_,
                                                 std::move(on_failure), [this] { stop_loading(); });
}

void ResultPage::stop_loading() {
    if (loader_) {
        loader_.reset();
        emit loaded();
    }
}

void ResultPage::warn(const QString& text, const QString& details) {
    show_warning(banner_, text, details);
}

void ResultPage::clear() {
    stop_loading();
    model_->clear();
}

}  // namespace qinglan
