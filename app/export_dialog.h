#pragma once

// The export dialog ("导出"): which rows go into the file. It offers the
// selected result tab (checked) and the other stored keywords, with check
// boxes; with a filter on the tab, all its rows or only the rows shown; and,
// for several keywords, one merged worksheet instead of one sheet each.

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

class QCheckBox;
class QDialogButtonBox;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace qinglan {

// What the dialog offers.
struct ExportOffer {
    QString tab_title;    // the selected result tab
    int tab_rows = 0;     // rows its list holds
    int shown_rows = -1;  // rows its filter shows; -1: no filter
    struct Keyword {
        std::string keyword;
        long long rows = 0;
    };
    std::vector<Keyword> stored;  // other stored keywords, in the store's order
};

// What the user chose.
struct ExportChoice {
    bool tab = true;                  // the selected tab's rows
    bool shown_only = false;          // of those, only the rows the filter shows
    std::vector<std::string> stored;  // stored keywords, read from the database
    bool merge = false;
    // Made in the dialog: a dialog opened with them shows them again.
    bool made = false;
};

class ExportDialog final : public QDialog {
    Q_OBJECT

public:
    ExportDialog(QWidget* parent, const ExportOffer& offer);

    static QString caption();
    ExportChoice choice() const;
    // Shows `choice` (one made in this dialog before) as chosen.
    void preset(const ExportChoice& choice);

private:
    void update_controls();

    ExportOffer offer_;
    QListWidget* keywords_;
    QRadioButton* all_rows_;
    QRadioButton* shown_rows_;
    QCheckBox* merge_;
    QPushButton* export_button_;
};

}  // namespace qinglan
