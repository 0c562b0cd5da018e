// The help window's text: the program's user guide, kept as a page of its
// own (app/help.html), built into the program and shipped beside it.

#include <QFile>

#include "app/help_window.h"

namespace qinglan {

QString HelpWindow::text() {
    QFile page(QStringLiteral(":/qinglan/help.html"));
    if (!page.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(page.readAll());
}

}  // namespace qinglan
