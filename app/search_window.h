#pragma once

// The search window: a modal dialog where keywords are typed and submitted,
// one after the other, while it stays open. Each opening is a new window
// that has the stored table names read anew. Enter released in the keyword
// box submits exactly as the button does, the completion offers shown or
// not (one Enter, one keyword); after a submission the box's text is
// selected, so the next keyword typed replaces it. Esc and "取消" close it.
//
// Below the keyword box it lists the stored keywords with their row counts
// and whether they are complete, so the user sees what is there already;
// a click puts one into the keyword box, and typing completes from them
// (an offer chosen with the arrow keys is what Enter then submits; a click
// on one puts it into the box).
//
// "导入关键字…" submits every keyword of a keyword file, one after the
// other as if each were typed; a file with a bad line submits nothing and
// says which line it is.

#include <QDialog>

#include <functional>
#include <vector>

#include "app/dialogs.h"
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
    // `submit` receives the keyword box's whole content, exactly as typed;
    // `dialogs` chooses the keyword file to import and says why it is refused.
    SearchWindow(QWidget* parent, const std::vector<StoredKeyword>& stored, Dialogs& dialogs,
                 std::function<void(const QString&)> submit);

    static QString caption();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void submit_keyword();
    void import_keywords();
    void build_stored_list(const std::vector<StoredKeyword>& stored);
    void take_stored(QTreeWidgetItem* item);

    Dialogs& dialogs_;
    std::function<void(const QString&)> submit_;
    QLineEdit* keyword_box_;
    QPushButton* submit_button_;
    QPushButton* cancel_button_;
    QPushButton* import_button_;
    QComboBox* table_names_box_;
    QTreeWidget* stored_list_ = nullptr;
    bool enter_pressed_ = false;  // Enter went down in the keyword box
};

}  // namespace qinglan
