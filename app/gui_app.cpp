#include "app/gui_app.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "services/environment.h"

namespace qinglan {

std::unique_ptr<QTranslator> install_chinese_translations() {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get())) {
        return nullptr;
    }
    return translator;
}

int run_gui(int argc, char** argv, const Options& options) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qinglan"));
    const std::unique_ptr<QTranslator> chinese = install_chinese_translations();
    QtDialogs dialogs;
    std::string error;
    if (!apply_network_settings(options, &error)) {
        // The program is still of use without the browser's cookies.
        dialogs.message(nullptr, QStringLiteral("无法读取 Cookie 文件，将不带 Cookie 采集。"),
                        Dialogs::Icon::kWarning, QString(), QString::fromStdString(error));
    }
    MainWindow window({options.data_dir, options.hosts, options.update_host, run_directory(),
                       executable_name(), options.parallel, options.cookies},
                      dialogs);
    window.show();
    // Declared after the window: it goes first, with its requests.
    StartUp start_up(window, dialogs);
    start_up.start();
    return QApplication::exec();
}

}  // namespace qinglan
