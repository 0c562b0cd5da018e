// The result tabs' own commands: closing a tab, and its menu's export,
// collecting the keyword again and deleting the stored keyword.

#include <QMenu>
#include <QTabBar>
#include <QTabWidget>

#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/result_page.h"

namespace qinglan {

void MainWindow::show_tab_menu(const QPoint& position) {
    const int tab = tabs_->tabBar()->tabAt(position);
    if (tab <= 0) {
        return;
    }
    const QPointer<ResultPage> page = result_page(tab);
    QMenu menu(this);
    QAction* export_tab = menu.addAction(QStringLiteral("导出"));
    export_tab->setObjectName(QStringLiteral("tab_export"));
    QAction* again = menu.addAction(QStringLiteral("重新采集"));
    again->setObjectName(QStringLiteral("tab_collect_again"));
    QAction* forget = menu.addAction(QStringLiteral("删除关键词"));
    forget->setObjectName(QStringLiteral("tab_forget"));
    QAction* chosen = menu.exec(tabs_->tabBar()->mapToGlobal(position));
    // The menu ran the event loop: the tab may have moved or gone.
    const int now = page ? tabs_->indexOf(page) : -1;
    if (chosen == nullptr || now <= 0) {
        return;
    }
    if (chosen == export_tab) {
        tabs_->setCurrentIndex(now);
        export_to_excel();
    } else if (chosen == again) {
        collect_again(now);
    } else if (chosen == forget) {
        forget_keyword(now);
    }
}

void MainWindow::close_result_tab(int tab_index) {
    if (tab_index <= 0 || tab_index >= tabs_->count()) {
        return;
    }
    ResultPage* page = result_page(tab_index);
    tabs_->removeTab(tab_index);
    // A task still collecting into it runs on; its rows stay in the database.
    delete page;
}

void MainWindow::collect_again(int tab_index) {
    ResultPage* page = result_page(tab_index);
    const QString keyword = page->keyword();
    const long long rows = session_.stored_rows(keyword.toStdString()).value_or(0);
    if (rows > 0 &&
        !dialogs_.confirm(
            this,
            QStringLiteral("重新采集关键字「%1」？已保存的 %2 行数据将在读到新的会员列表后被替换。")
                .arg(keyword)
                .arg(rows))) {
        return;
    }
    collect(keyword, true, page);
}

void MainWindow::forget_keyword(int tab_index) {
    const QString keyword = result_page(tab_index)->keyword();
    const std::string name = keyword.toStdString();
    const long long rows = session_.stored_rows(name).value_or(0);
    if (!dialogs_.confirm(this,
                          QStringLiteral("删除关键字「%1」及其已保存的 %2 行数据？删除后不能恢复。")
                              .arg(keyword)
                              .arg(rows))) {
        return;
    }
    // A keyword being collected, here or by another collector, stays.
    std::string error;
    bool busy = false;
    if (!session_.forget(name, &busy, &error)) {
        dialogs_.message(
            nullptr,
            busy ? QStringLiteral("关键字「") + keyword +
                       QStringLiteral("」正在采集，不能删除。请先停止它的任务。")
                 : QStringLiteral("无法删除关键字「") + keyword + QStringLiteral("」。"),
            busy ? Dialogs::Icon::kInformation : Dialogs::Icon::kWarning, QString(),
            from_utf8(error));
        return;
    }
    // Its tabs showed what is gone; a later submission collects it anew.
    for (int tab = tabs_->count() - 1; tab > 0; --tab) {
        if (result_page(tab)->keyword() == keyword) {
            close_result_tab(tab);
        }
    }
    set_status(0, QStringLiteral("状态：已删除关键字「") + keyword + QStringLiteral("」"));
}

}  // namespace qinglan
