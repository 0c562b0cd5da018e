#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "app/options.h"

class QTranslator;

namespace qinglan {

// Makes Qt's own dialogs and buttons speak Chinese, from the translations
// the system's Qt brings (qtbase_zh_CN). The translator returned belongs to
// the caller; nullptr when the translations are not installed, and then the
// stock texts stay English.
std::unique_ptr<QTranslator> install_chinese_translations();

// The socket of a local X display in `socket_dir` ("/tmp/.X11-unix") for
// DISPLAY ":N", ":N.S" or "unix:N"; empty for any other (remote, or none).
std::string display_socket(std::string_view display, const std::string& socket_dir);

// Waits up to `limit` until the display's socket takes a connection: an X
// server started at the same moment as the program (xvfb-run, a session
// that is still coming up) is waited for rather than failed. False when it
// never did.
bool wait_for_display(const std::string& socket, std::chrono::milliseconds limit);

// Runs the windows until the main window is closed; returns the exit status.
int run_gui(int argc, char** argv, const Options& options);

}  // namespace qinglan
