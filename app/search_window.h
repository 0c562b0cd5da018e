#pragma once

// The search window: a modal dialog where keywords are typed and submitted,
// one after the other, while it stays open. Each opening is a new window
// that has the stored table names read anew. Enter released in the keyword
// box submits exactly as the button does; Esc and "取消" close it.
//
// Below the keyword box it lists the stored keywords with their row counts
// and whether they are complete, so the user sees what is there already;
// a click puts one into the keyword box, and typing completes from them.

#include <QDialog>

#include <functional>
#include <vector>

#include "app/stored_keywords.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qinglan {

class SearchWindow final : public QDialog {
    Q_OBJECT

public:
    // `submit` receives the keyword box's whole content, exactly as typed.
    SearchWindow(QWidget* parent, const std::vector<StoredKeyword>& stored,
                 std::function<void(const QString&)> submit);

    static QString caption();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void submit_keyword();
    void build_stored_list(const std::vector<StoredKeyword>& stored);
    void take_stored(QTreeWidgetItem* item);

    std::function<void(const QString&)> submit_;
    QLineEdit* keyword_box_;
    QPushButton* submit_button_;
    QPushButton* cancel_button_;
    QComboBox* table_names_box_;
    QTreeWidget* stored_list_ = nullptr;
    bool enter_pressed_ = false;  // Enter went down in the keyword box
};

}  // namespace qinglan
