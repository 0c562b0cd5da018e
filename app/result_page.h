#pragma once

// One result tab's page: a filter box above the keyword's result list, and
// beside it the rows shown of all ("显示 N / M 行"). It
// owns the list's model and the reading of the keyword's stored rows, which
// ends (and drops what it had not handed over) when the page is closed or
// filled anew.

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

#include "storage/record_store.h"

class QLabel;

namespace qinglan {

class ResultListModel;
class ResultListView;
class StoredRowsLoader;

class ResultPage final : public QWidget {
    Q_OBJECT

public:
    // `number` names the list ("超级列表框_主窗口_" + number) for tests.
    ResultPage(const QString& keyword, int number, QWidget* parent = nullptr);
    ~ResultPage() override;

    const QString& keyword() const { return keyword_; }
    ResultListModel* model() const { return model_; }
    ResultListView* view() const { return view_; }

    // Reads the keyword's first `row_limit` stored rows (all: a negative
    // limit) into rows 0, 1, … of the list.
    void load(RecordStore& store, int row_limit, std::function<void(const QString&)> on_failure);
    void stop_loading();
    // Stored rows are still being read into the list: until `loaded`, some
    // of its rows are empty or missing.
    bool loading() const { return loader_ != nullptr; }
    // A banner above the list says `text` (`details` in its tooltip) until
    // the page closes.
    void warn(const QString& text, const QString& details);

    // Empties the list for a new collection of the keyword.
    void clear();

signals:
    void loaded();

private:
    void show_row_counts();

    const QString keyword_;
    ResultListModel* model_;
    ResultListView* view_;
    QLabel* banner_;
    QLabel* shown_count_;
    std::unique_ptr<StoredRowsLoader> loader_;
};

}  // namespace qinglan
