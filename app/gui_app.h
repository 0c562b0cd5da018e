#pragma once

#include <memory>

#include "app/options.h"

class QTranslator;

namespace qinglan {

// Makes Qt's own dialogs and buttons speak Chinese, from the translations
// the system's Qt brings (qtbase_zh_CN). The translator returned belongs to
// the caller; nullptr when the translations are not installed, and then the
// stock texts stay English.
std::unique_ptr<QTranslator> install_chinese_translations();

// Runs the windows until the main window is closed; returns the exit status.
int run_gui(int argc, char** argv, const Options& options);

}  // namespace qinglan
