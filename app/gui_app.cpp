#include "app/gui_app.h"

#include <QApplication>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "services/environment.h"

namespace qinglan {

int run_gui(int argc, char** argv, const Options& options) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qinglan"));
    QtDialogs dialogs;
    std::string error;
    if (!apply_network_settings(options, &error)) {
        // The program is still of use without the browser's cookies.
        dialogs.message(nullptr, QStringLiteral("无法读取 Cookie 文件，将不带 Cookie 采集。"),
                        Dialogs::Icon::kWarning, QString(), QString::fromStdString(error));
    }
    MainWindow window({options.data_dir, options.hosts, options.update_host, run_directory(),
                       executable_name(), options.parallel},
                      dialogs);
    if (!window.run_start_up()) {
        return 0;
    }
    window.show();
    return QApplication::exec();
}

}  // namespace qinglan
