#pragma once

// The main window's commands: the buttons of the toolbar `工具条_顶部`, left
// to right, each with its caption, image, keyboard shortcut and an object
// name by which tests and scripts find it. A click is dispatched by the
// command it carries, never by the caption it shows.

#include <QStyle>

#include <functional>
#include <optional>
#include <span>

class QToolBar;
class QWidget;

namespace qinglan {

enum class Command { kSearch, kExport, kHelp, kAbout, kSettings, kQuit };

struct CommandButton {
    Command command;
    const char* caption;
    const char* object_name;
    QStyle::StandardPixmap image;
    const char* shortcut;  // in QKeySequence's portable text; empty: none
};

std::span<const CommandButton> command_buttons();

// The toolbar of `window` with one action per command, in order; a
// triggered action (click or shortcut) calls `run` with its command.
QToolBar* build_command_toolbar(QWidget* window, std::function<void(Command)> run);

// The command of the toolbar's action at `index`; nullopt outside the toolbar.
std::optional<Command> command_at(const QToolBar& toolbar, int index);

}  // namespace qinglan
