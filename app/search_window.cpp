#include "app/search_window.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>

#include "app/qt_text.h"
#include "services/keywords_file.h"

namespace qinglan {

QString SearchWindow::caption() {
    return QStringLiteral("              公司信息搜索");
}

namespace {

// The stored keywords' list, below the units of the classic window.
constexpr int kListTop = 134;
constexpr int kListHeight = 180;
constexpr int kHeight = kListTop + kListHeight + 12;

}  // namespace

SearchWindow::SearchWindow(QWidget* parent, const std::vector<StoredKeyword>& stored,
                           Dialogs& dialogs, std::function<void(const QString&)> submit)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs),
      submit_(std::move(submit)),
      stored_(stored) {
    setObjectName(QStringLiteral("search_window"));
    setWindowTitle(caption());
    setModal(true);
    setFixedSize(392, kHeight);

    auto* frame = new QGroupBox(QStringLiteral("输入搜索关键字"), this);
    frame->setObjectName(QStringLiteral("分组框1"));
    frame->setGeometry(32, 8, 288, 56);
    frame->setAlignment(Qt::AlignHCenter);
    frame->setStyleSheet(QStringLiteral("QGroupBox { color: rgb(128, 0, 0); }"));

    keyword_box_ = new QLineEdit(frame);
    keyword_box_->setObjectName(QStringLiteral("编辑框1"));
    keyword_box_->setGeometry(16, 22, 256, 24);  // below the frame's title
    keyword_box_->installEventFilter(this);

    // No button is a default button: Enter in the keyword box submits on
    // its release, and must not also press a button or close the window.
    submit_button_ = add_button(QStringLiteral("确定提交"), 120, 80, 80);
    submit_button_->setObjectName(QStringLiteral("an1"));
    connect(submit_button_, &QPushButton::clicked, this, &SearchWindow::submit_keyword);

    cancel_button_ = add_button(QStringLiteral("取消"), 224, 80, 88);
    cancel_button_->setObjectName(QStringLiteral("按钮2"));
    connect(cancel_button_, &QPushButton::clicked, this, &QDialog::reject);

    import_button_ = add_button(QStringLiteral("导入关键字…"), 16, 80, 96);
    import_button_->setObjectName(QStringLiteral("导入关键字"));
    connect(import_button_, &QPushButton::clicked, this, &SearchWindow::import_keywords);

    // Holds the stored names outside the visible area, as read at opening.
    table_names_box_ = new QComboBox(this);
    table_names_box_->setObjectName(QStringLiteral("表名框"));
    table_names_box_->setGeometry(392, 56, 120, 20);
    QStringList names;
    for (const StoredKeyword& keyword : stored) {
        names << from_utf8(keyword.name);
    }
    table_names_box_->addItems(names);
    build_stored_list();

    // Typing offers the stored keywords that hold what is typed.
    auto* completer = new QCompleter(names, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    keyword_box_->setCompleter(completer);
    // Filters installed last run first: this one sees Enter on the popup
    // before the completer would take it for a choice and swallow it.
    completer->popup()->installEventFilter(this);

    keyword_box_->setFocus();
}

bool SearchWindow::eventFilter(QObject* watched, QEvent* event) {
    // Events reach the box before its completer is set.
    QCompleter* completer = keyword_box_->completer();
    QAbstractItemView* popup = completer != nullptr ? completer->popup() : nullptr;
    if (popup != nullptr && watched == popup && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // Enter with the offers shown submits what the box holds: what
            // was typed, or the offer the arrow keys put there. The popup
            // goes, so the release reaches the box and submits there.
            popup->hide();
            enter_pressed_ = true;
            return true;
        }
        return QDialog::eventFilter(watched, event);
    }
    if (watched == keyword_box_) {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            if (enter) {
                // The press is swallowed so the dialog does not act on it; the
                // release submits, once, however long the key was held. A
                // release whose press went elsewhere (the Enter that closed
                // a message box) submits nothing.
                if (event->type() == QEvent::KeyPress) {
                    enter_pressed_ = true;
                } else if (!key->isAutoRepeat() && enter_pressed_) {
                    enter_pressed_ = false;
                    submit_keyword();
                }
                return true;
            }
        } else if (event->type() == QEvent::FocusOut &&
                   static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
            enter_pressed_ = false;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QPushButton* SearchWindow::add_button(const QString& text, int left, int top, int width) {
    auto* button = new QPushButton(text, this);
    button->setGeometry(left, top, width, 24);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void SearchWindow::build_stored_list() {
    list_title_ = new QLabel(this);
    list_title_->setGeometry(16, kListTop - 20, 360, 18);
    stored_list_ = new QTreeWidget(this);
    stored_list_->setObjectName(QStringLiteral("已存关键字"));
    stored_list_->setGeometry(16, kListTop, 360, kListHeight);
    stored_list_->setHeaderLabels(
        {QStringLiteral("关键字"), QStringLiteral("行数"), QStringLiteral("状态")});
    stored_list_->setRootIsDecorated(false);
    stored_list_->setSelectionMode(QAbstractItemView::SingleSelection);
    stored_list_->setFocusPolicy(Qt::NoFocus);  // Enter stays with the keyword box
    stored_list_->setColumnWidth(0, 180);
    stored_list_->setColumnWidth(1, 60);
    fill_stored_list();
    connect(stored_list_, &QTreeWidget::itemClicked, this, &SearchWindow::take_stored);
}

void SearchWindow::fill_stored_list() {
    stored_list_->clear();
    list_title_->setText(queue_add_ ? QStringLiteral("已保存和团队队列中的关键字（点击填入）：")
                         : stored_.empty() ? QStringLiteral("还没有保存的关键字")
                                           : QStringLiteral("已保存的关键字（点击填入）："));
    std::vector<bool> shown(queue_.size(), false);
    for (const StoredKeyword& keyword : stored_) {
        auto* item = new QTreeWidgetItem(stored_list_);
        item->setText(0, from_utf8(keyword.name));
        item->setText(1, keyword.rows >= 0 ? QString::number(keyword.rows) : QStringLiteral("?"));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(2, keyword.complete ? QStringLiteral("完成") : QStringLiteral("未完成"));
        if (!keyword.complete) {
            item->setToolTip(2, QStringLiteral("已保存 %1 / %2 位用户，再次提交即继续采集")
                                    .arg(keyword.stored)
                                    .arg(keyword.members));
        }
        for (std::size_t q = 0; q < queue_.size(); ++q) {
            if (queue_[q].keyword == keyword.name) {
                show_queue_state(item, queue_[q]);
                shown[q] = true;
            }
        }
    }
    // Queued keywords with no table yet follow, in the order of adding.
    for (std::size_t q = 0; q < queue_.size(); ++q) {
        if (!shown[q]) {
            auto* item = new QTreeWidgetItem(stored_list_);
            item->setText(0, from_utf8(queue_[q].keyword));
            item->setText(1, QString::number(queue_[q].rows));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            show_queue_state(item, queue_[q]);
        }
    }
}

void SearchWindow::take_stored(QTreeWidgetItem* item) {
    keyword_box_->setText(item->text(0));
    keyword_box_->setFocus();
}

void SearchWindow::submit_keyword() {
    if (submit_) {
        submit_(keyword_box_->text());
    }
    keyword_box_->completer()->popup()->hide();
    // The next keyword typed replaces this one rather than adding to it.
    keyword_box_->selectAll();
}

bool SearchWindow::read_keyword_file(const QString& title, std::vector<std::string>* keywords) {
    const QString path =
        dialogs_.open_file_name(this, title, QStringLiteral("关键字文件 (*.txt);;所有文件 (*)"));
    if (path.isEmpty()) {
        return false;
    }
    // The whole file is read and checked first: a list stopped at a bad
    // line would leave the user to work out which keywords already run.
    std::vector<FileKeyword> lines;
    std::string error;
    if (!read_keywords_file(QFile::encodeName(path).toStdString(), &lines, &error)) {
        dialogs_.message(this, QStringLiteral("关键字文件无法导入，没有提交任何关键字。"),
                         Dialogs::Icon::kWarning, QString(), from_utf8(error));
        return false;
    }
    keywords->clear();
    for (FileKeyword& line : lines) {
        keywords->push_back(std::move(line.keyword));
    }
    return true;
}

void SearchWindow::import_keywords() {
    std::vector<std::string> keywords;
    if (!read_keyword_file(QStringLiteral("导入关键字"), &keywords)) {
        return;
    }
    for (const std::string& keyword : keywords) {
        if (submit_) {
            submit_(from_utf8(keyword));
        }
    }
    keyword_box_->setFocus();  // Enter goes on submitting typed keywords
}

}  // namespace qinglan
