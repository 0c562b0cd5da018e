#pragma once

// The help window ("帮助", F1): how to collect, resume and stop, work with
// the result lists, export, change the settings, share one database in a
// team and use the command line. The text is built into the program, so
// the help is there wherever the program runs. One window at a time; it
// does not block the main window.

#include <QString>
#include <QWidget>

namespace qinglan {

class HelpWindow final : public QWidget {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent = nullptr);

    static QString caption();
    // The help's text as HTML.
    static QString text();
};

}  // namespace qinglan
