#include "app/result_page.h"

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
    layout->addWidget(filter_box);
    model_ = new ResultListModel(this);
    view_ = new ResultListView(model_, this);
    view_->setObjectName(QStringLiteral("超级列表框_主窗口_") + QString::number(number));
    layout->addWidget(view_, 1);
    connect(filter_box, &QLineEdit::textChanged, model_, &ResultListModel::set_filter);
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
