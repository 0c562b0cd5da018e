// The help window's text: the program's user guide, kept as a page of its
// own (app/help.html), built into the program and shipped in share/qinglan.

#include <QFile>

#include "app/data_places.h"
#include "app/help_window.h"
#include "app/qt_text.h"
#include "services/environment.h"

namespace qinglan {

QString HelpWindow::text() {
    // Installed, the shipped page is the one to show; the built-in one is
    // its copy for a program run from its build tree.
    const std::string shared = installed_shared_folder(run_directory());
    QFile installed(from_utf8(shared + "/help.html"));
    if (!shared.empty() && installed.open(QIODevice::ReadOnly)) {
        return QString::fromUtf8(installed.readAll());
    }
    QFile page(QStringLiteral(":/qinglan/help.html"));
    if (!page.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(page.readAll());
}

}  // namespace qinglan
