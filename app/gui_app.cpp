#include "app/gui_app.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/quit_signals.h"
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

namespace {

// While the windows' platform starts: a platform that cannot start (no
// display, or one not ready yet) ends the program with a message and status
// 1, not with an abort.
void platform_start_messages(QtMsgType type, const QMessageLogContext& context,
                             const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "qinglan: 无法打开窗口（the display cannot be used）\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
}

// The windows' platform is X unless another one is asked for.
bool uses_x() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return platform == nullptr || *platform == '\0' ||
           std::string_view(platform).rfind("xcb", 0) == 0;
}

}  // namespace

std::string display_socket(std::string_view display, const std::string& socket_dir) {
    if (display.rfind("unix:", 0) == 0) {
        display.remove_prefix(4);
    }
    if (display.size() < 2 || display[0] != ':') {
        return {};
    }
    const std::string_view number = display.substr(1, display.find('.') - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) {
        return {};
    }
    return socket_dir + "/X" + std::string(number);
}

bool wait_for_display(const std::string& socket, std::chrono::milliseconds limit) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (socket.size() >= sizeof address.sun_path) {
        return false;
    }
    socket.copy(address.sun_path, socket.size());
    const auto give_up = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool taken = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address),
                                                sizeof address) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        if (taken) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= give_up) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int run_gui(int argc, char** argv, const Options& options) {
    if (uses_x()) {
        const char* display = std::getenv("DISPLAY");
        const std::string socket =
            display_socket(display != nullptr ? display : "", "/tmp/.X11-unix");
        if (!socket.empty()) {
            wait_for_display(socket, std::chrono::seconds(5));
        }
    }
    // A quit signal that comes before the windows can take it waits for them.
    sigset_t quit_signals, previous_mask;
    sigemptyset(&quit_signals);
    sigaddset(&quit_signals, SIGINT);
    sigaddset(&quit_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &quit_signals, &previous_mask);

    const QtMessageHandler previous_handler = qInstallMessageHandler(platform_start_messages);
    QApplication application(argc, argv);
    qInstallMessageHandler(previous_handler);
    QApplication::setApplicationName(QStringLiteral("qinglan"));
    // Installed, the desktop entry qinglan.desktop and the icon theme's
    // "qinglan" give the windows their icon (none from a build tree).
    QGuiApplication::setDesktopFileName(QStringLiteral("qinglan"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("qinglan")));
    const std::unique_ptr<QTranslator> chinese = install_chinese_translations();
    QtDialogs dialogs;
    std::string error;
    if (!apply_network_settings(options, &error)) {
        // The program is still of use without the browser's cookies.
        dialogs.message(nullptr, QStringLiteral("无法读取 Cookie 文件，将不带 Cookie 采集。"),
                        Dialogs::Icon::kWarning, QString(), QString::fromStdString(error));
    }
    Options settings = options;
    settings.run_dir = run_directory();
    settings.program_name = executable_name();
    MainWindow window(std::move(settings), dialogs);
    // Declared after the window, as the start-up: both go before it.
    QuitOnSignals quit([&window] { window.end_program(0); });
    pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
    window.show();
    StartUp start_up(window, dialogs);
    // From the event loop: what start-up shows (a database that cannot be
    // opened) is then shown over a painted window, and closing it ends the
    // program at once.
    QTimer::singleShot(0, &start_up, &StartUp::start);
    return QApplication::exec();
}

}  // namespace qinglan
