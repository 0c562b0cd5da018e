#include "app/main_window.h"
#include "app/qt_text.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/export_window.h"
#include "app/fatal_error.h"
#include "app/result_list_model.h"
#include "app/result_list_view.h"
#include "app/result_page.h"
#include "app/task_list.h"
#include "app/toolbar_commands.h"
#include "app/warning_banner.h"
#include "app/window_fit.h"

namespace qinglan {
namespace {

constexpr QSize kUsualSize(867, 544);

// The first tab, which holds the notice; returns the notice's box.
QPlainTextEdit* add_start_page(QTabWidget* tabs, const Options& settings) {
    auto* start_page = new QWidget(tabs);
    start_page->setObjectName(QStringLiteral("起始页"));
    auto* page_layout = new QVBoxLayout(start_page);
    page_layout->setContentsMargins(8, 8, 8, 8);
    auto* notice_box = new QPlainTextEdit(start_page);
    notice_box->setObjectName(QStringLiteral("版本框"));
    notice_box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    notice_box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    notice_box->setFrameShape(QFrame::StyledPanel);
    notice_box->setFrameShadow(QFrame::Sunken);
    page_layout->addWidget(notice_box);
    // Installed, the data is not beside the program: the user needs to be
    // told where it is, to back it up or to find qinglan.ini.
    auto* places =
        new QLabel(QStringLiteral("数据文件夹：%1　　设置文件：%2")
                       .arg(from_utf8(settings.data_dir), from_utf8(settings_path(settings))),
                   start_page);
    places->setObjectName(QStringLiteral("数据文件夹"));
    places->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path never widens the window; cut short, it shows whole in
    // the tooltip.
    places->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    places->setToolTip(places->text());
    page_layout->addWidget(places);
    tabs->addTab(start_page, QStringLiteral("起始页"));
    return notice_box;
}

}  // namespace

QString MainWindow::caption() {
    return QStringLiteral("青岚用户采集器（阿里巴巴）V01");
}

QString MainWindow::ready_text() {
    return QStringLiteral("状态：程序准备好可以搜索");
}

QString MainWindow::built_in_notice() {
    return QStringLiteral(
        "青岚用户采集器使用说明\r\n"
        "\r\n"
        "1. 点击工具条上的“客服信息”，在弹出的“公司信息搜索”窗口中输入搜索关键字，"
        "按“确定提交”或回车键提交。窗口保持打开，可以接着提交下一个关键字。\r\n"
        "2. 每个关键字都有自己的结果页：在上方的“采集任务”列表里可以看到任务总量和完成数量，"
        "状态栏显示采集进度。几个关键字可以同时采集。\r\n"
        "3. 采集到的每一位用户都立即保存在数据文件夹（起始页下方写明）的 date/lingshishuj.db "
        "数据库中，"
        "以关键字为表名。已经采集完的关键字再次提交时，直接从数据库显示，不再重新采集；"
        "没有采集完的关键字（网络失败、中途停止）再次提交时，只采集缺少的用户。\r\n"
        "4. 选中一个结果页，点击“导出”，即可把该页的全部行保存为 Excel 工作簿（.xlsx）。\r\n"
        "5. 点击“退出”或关闭窗口时，正在进行的采集会停止，已保存的数据不会丢失。");
}

MainWindow::MainWindow(Options settings, Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      settings_(std::move(settings)),
      dialogs_(dialogs),
      end_program_([](int status) { QApplication::exit(status); }),
      session_(this, [this](CollectionUpdates&& updates) { apply_updates(std::move(updates)); }) {
    setObjectName(QStringLiteral("主窗口"));
    setWindowTitle(caption());
    toolbar_ = build_command_toolbar(this, [this](Command command) { run_command(command); });
    addToolBar(Qt::TopToolBarArea, toolbar_);
    build_central_units();
    build_status_bar();
    // It opens at its usual size, less on a screen too small for it, and
    // grows with its lists when resized or maximized.
    fit_to_screen(this, kUsualSize);
}

MainWindow::~MainWindow() {
    stop_collection();
}

void MainWindow::set_end_program(std::function<void(int)> end_program) {
    end_program_ = std::move(end_program);
}

void MainWindow::end_program(int status) {
    ending_ = true;
    stop_collection();
    end_program_(status);
}

void MainWindow::build_central_units() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    database_banner_ = new_warning_banner(central);
    layout->addWidget(database_banner_);

    auto* frame = new QGroupBox(QStringLiteral("采集任务"), central);
    frame->setObjectName(QStringLiteral("分组框1"));
    auto* frame_layout = new QVBoxLayout(frame);
    frame_layout->setContentsMargins(5, 4, 5, 4);
    task_list_ = new TaskList(frame);
    // Five tasks show at least; the splitter gives the list more room.
    task_list_->setMinimumHeight(task_list_->height_for_rows(5));
    connect(task_list_, &TaskList::stop_requested, this, [this](int task) {
        if (task_list_->running(task)) {
            session_.stop_task(task);
        }
    });
    connect(task_list_, &TaskList::continue_requested, this, &MainWindow::continue_task);
    frame_layout->addWidget(task_list_);

    tabs_ = new QTabWidget(central);
    tabs_->setObjectName(QStringLiteral("选择夹1"));
    notice_box_ = add_start_page(tabs_, settings_);
    // Result tabs close; the start page stays.
    tabs_->setTabsClosable(true);
    tabs_->tabBar()->setTabButton(0, QTabBar::RightSide, nullptr);
    tabs_->tabBar()->setTabButton(0, QTabBar::LeftSide, nullptr);
    tabs_->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabs_, &QTabWidget::tabCloseRequested, this, &MainWindow::close_result_tab);
    connect(tabs_->tabBar(), &QWidget::customContextMenuRequested, this,
            &MainWindow::show_tab_menu);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        // Every tab after the start page has its result list.
        if (index > 0) {
            check_index(dialogs_, index, result_list_count());
        }
    });

    auto* splitter = new QSplitter(Qt::Vertical, central);
    splitter->setObjectName(QStringLiteral("分隔条1"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(frame);
    splitter->addWidget(tabs_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    // The tabs get what five tasks leave.
    splitter->setSizes({frame->minimumSizeHint().height(), height()});
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
}

void MainWindow::build_status_bar() {
    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("状态条1"));
    bar->setSizeGripEnabled(false);
    // The parts keep their proportions as the window is resized; a text
    // longer than its part shows whole in the part's tooltip.
    const int widths[3] = {200, 250, 380};
    const QFrame::Shadow shadows[3] = {QFrame::Raised, QFrame::Sunken, QFrame::Sunken};
    for (int part = 0; part < 3; ++part) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("状态条1_") + QString::number(part));
        label->setMinimumWidth(widths[part] / 4);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        label->setFrameStyle(QFrame::Panel | shadows[part]);
        bar->addWidget(label, widths[part]);
        status_parts_[part] = label;
    }
    setStatusBar(bar);
    set_status(0, ready_text());
}

QString MainWindow::status_text(int part) const {
    return part >= 0 && part < 3 ? status_parts_[part]->text() : QString();
}

void MainWindow::set_status(int part, const QString& text) {
    if (part >= 0 && part < 3) {
        status_parts_[part]->setText(text);
        status_parts_[part]->setToolTip(text);
    }
}

void MainWindow::show_notice(const QString& text) {
    notice_box_->setPlainText(text);
}

ResultPage* MainWindow::page_for(const QString& keyword, ResultPage* page) {
    if (page != nullptr) {
        page->clear();
        return page;
    }
    page = new ResultPage(keyword, ++pages_made_, tabs_);
    // The same keyword again gets a numbered title, so its tabs can be told apart.
    const int submission = ++submissions_[keyword];
    const QString title =
        submission == 1 ? keyword : keyword + QStringLiteral(" (%1)").arg(submission);
    // Appending a tab leaves the selected one as it is.
    tabs_->addTab(page, title);
    for (QLineEdit* box : page->findChildren<QLineEdit*>()) {
        box->installEventFilter(this);
    }
    return page;
}

int MainWindow::result_list_count() const {
    return tabs_->count() - 1;
}

ResultPage* MainWindow::result_page(int tab_index) {
    check_index(dialogs_, tab_index, result_list_count());
    return static_cast<ResultPage*>(tabs_->widget(tab_index));
}

QTableView* MainWindow::result_list(int tab_index) {
    return result_page(tab_index)->view();
}

ResultListModel* MainWindow::result_model(int tab_index) {
    return result_page(tab_index)->model();
}

void MainWindow::stop_collection() {
    for (int tab = 1; tab < tabs_->count(); ++tab) {
        static_cast<ResultPage*>(tabs_->widget(tab))->stop_loading();
    }
    // What the workers reported before they ended still reaches the lists.
    session_.stop();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Esc closes the window as its close box does, whatever has the focus.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MainWindow::may_close() {
    if (ending_ || session_.running_tasks() == 0) {
        return true;
    }
    return dialogs_.confirm(this,
                            QStringLiteral("正在采集，确定要退出吗？\r\n已保存的数据不会丢失，"
                                           "没有采集完的关键字下次再提交时接着采集。"));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QAction* action : toolbar_->actions()) {
            if (!action->shortcut().isEmpty() && action->shortcut() == pressed) {
                // Not taken here: the shortcut runs the command.
                event->ignore();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!may_close()) {
        event->ignore();
        return;
    }
    // An export under way ends without writing: its temporary file goes,
    // and nothing is said.
    export_.reset();
    stop_collection();
    event->accept();
}

}  // namespace qinglan
