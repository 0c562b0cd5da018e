#include "app/search_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace qinglan {

QString SearchWindow::caption() {
    return QStringLiteral("              公司信息搜索");
}

SearchWindow::SearchWindow(QWidget* parent, const std::vector<std::string>& table_names,
                           std::function<void(const QString&)> submit)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      submit_(std::move(submit)) {
    setObjectName(QStringLiteral("search_window"));
    setWindowTitle(caption());
    setModal(true);
    setFixedSize(392, 149);

    auto* frame = new QGroupBox(QStringLiteral("输入搜索关键字"), this);
    frame->setObjectName(QStringLiteral("分组框1"));
    frame->setGeometry(32, 8, 288, 56);
    frame->setAlignment(Qt::AlignHCenter);
    frame->setStyleSheet(QStringLiteral("QGroupBox { color: rgb(128, 0, 0); }"));

    keyword_box_ = new QLineEdit(frame);
    keyword_box_->setObjectName(QStringLiteral("编辑框1"));
    keyword_box_->setGeometry(16, 22, 256, 24);  // below the frame's title
    keyword_box_->installEventFilter(this);

    // Neither button is a default button: Enter in the keyword box submits on
    // its release, and must not also press a button or close the window.
    submit_button_ = new QPushButton(QStringLiteral("确定提交"), this);
    submit_button_->setObjectName(QStringLiteral("an1"));
    submit_button_->setGeometry(120, 80, 80, 24);
    submit_button_->setAutoDefault(false);
    submit_button_->setDefault(false);
    connect(submit_button_, &QPushButton::clicked, this, &SearchWindow::submit_keyword);

    cancel_button_ = new QPushButton(QStringLiteral("取消"), this);
    cancel_button_->setObjectName(QStringLiteral("按钮2"));
    cancel_button_->setGeometry(224, 80, 88, 24);
    cancel_button_->setAutoDefault(false);
    cancel_button_->setDefault(false);
    connect(cancel_button_, &QPushButton::clicked, this, &QDialog::reject);

    // Holds the stored names outside the visible area, as read at opening.
    table_names_box_ = new QComboBox(this);
    table_names_box_->setObjectName(QStringLiteral("表名框"));
    table_names_box_->setGeometry(392, 56, 120, 20);
    for (const std::string& name : table_names) {
        table_names_box_->addItem(QString::fromStdString(name));
    }

    keyword_box_->setFocus();
}

bool SearchWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == keyword_box_) {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            if (enter) {
                // The press is swallowed so the dialog does not act on it; the
                // release submits, once, however long the key was held. A
                // release whose press went elsewhere (the Enter that closed
                // a message box, or chose a completion) submits nothing.
                if (event->type() == QEvent::KeyPress) {
                    enter_pressed_ = true;
                } else if (!key->isAutoRepeat() && enter_pressed_) {
                    enter_pressed_ = false;
                    submit_keyword();
                }
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            enter_pressed_ = false;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SearchWindow::submit_keyword() {
    if (submit_) {
        submit_(keyword_box_->text());
    }
}

}  // namespace qinglan
