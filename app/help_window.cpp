#include "app/help_window.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace qinglan {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("帮助窗口"));
    setWindowTitle(caption());
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browser = new QTextBrowser(this);
    browser->setObjectName(QStringLiteral("帮助内容"));
    // The links lead to the sections of this text, never out of the program.
    browser->setOpenLinks(true);
    browser->setOpenExternalLinks(false);
    browser->setHtml(text());
    layout->addWidget(browser);
    resize(640, 520);
}

QString HelpWindow::caption() {
    return QStringLiteral("帮助");
}

}  // namespace qinglan
