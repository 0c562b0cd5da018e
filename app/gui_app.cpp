#include "app/gui_app.h"

#include <QApplication>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "services/environment.h"
#include "services/fetch.h"

namespace qinglan {

int run_gui(int argc, char** argv, const Options& options) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qinglan"));
    set_fetch_settings(options.fetch);

    QtDialogs dialogs;
    MainWindow window(
        {options.data_dir, options.hosts, options.update_host, run_directory(), executable_name()},
        dialogs);
    if (!window.run_start_up()) {
        return 0;
    }
    window.show();
    return QApplication::exec();
}

}  // namespace qinglan
