#pragma once

// The search window: a modal dialog where keywords are typed and submitted,
// one after the other, while it stays open. Each opening is a new window
// that has the stored table names read anew. Enter released in the keyword
// box submits exactly as the button does; Esc and "取消" close it.

#include <QDialog>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace qinglan {

class SearchWindow final : public QDialog {
    Q_OBJECT

public:
    // `submit` receives the keyword box's whole content, exactly as typed.
    SearchWindow(QWidget* parent, const std::vector<std::string>& table_names,
                 std::function<void(const QString&)> submit);

    static QString caption();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void submit_keyword();

    std::function<void(const QString&)> submit_;
    QLineEdit* keyword_box_;
    QPushButton* submit_button_;
    QPushButton* cancel_button_;
    QComboBox* table_names_box_;
    bool enter_pressed_ = false;  // Enter went down in the keyword box
};

}  // namespace qinglan
