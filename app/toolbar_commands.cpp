#include "app/toolbar_commands.h"

#include <QAction>
#include <QKeySequence>
#include <QToolBar>
#include <QWidget>

namespace qinglan {

std::span<const CommandButton> command_buttons() {
    static constexpr CommandButton kButtons[] = {
        {Command::kSearch, "客服信息", "command_search", QStyle::SP_FileDialogContentsView,
         "Ctrl+F"},
        {Command::kExport, "导出", "command_export", QStyle::SP_DialogSaveButton, "Ctrl+E"},
        {Command::kHelp, "帮助", "command_help", QStyle::SP_MessageBoxQuestion, "F1"},
        {Command::kAbout, "关于", "command_about", QStyle::SP_MessageBoxInformation, ""},
        {Command::kSettings, "设置", "command_settings", QStyle::SP_FileDialogDetailedView, ""},
        {Command::kQuit, "退出", "command_quit", QStyle::SP_DialogCloseButton, "Ctrl+Q"},
    };
    return kButtons;
}

QToolBar* build_command_toolbar(QWidget* window, std::function<void(Command)> run) {
    auto* toolbar = new QToolBar(window);
    toolbar->setObjectName(QStringLiteral("工具条_顶部"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(32, 32));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (const CommandButton& button : command_buttons()) {
        QAction* action = toolbar->addAction(window->style()->standardIcon(button.image),
                                             QString::fromUtf8(button.caption));
        action->setObjectName(QString::fromLatin1(button.object_name));
        action->setData(static_cast<int>(button.command));
        const QKeySequence shortcut(QString::fromLatin1(button.shortcut));
        if (!shortcut.isEmpty()) {
            action->setShortcut(shortcut);
            // The window's shortcut, whichever of its units has the focus;
            // the export's also from the program's other windows that are
            // not modal (a modal one still holds it back).
            action->setShortcutContext(button.command == Command::kExport ? Qt::ApplicationShortcut
                                                                          : Qt::WindowShortcut);
            action->setToolTip(QString::fromUtf8(button.caption) + QStringLiteral(" (") +
                               shortcut.toString(QKeySequence::NativeText) + QStringLiteral(")"));
        }
        const Command command = button.command;
        QObject::connect(action, &QAction::triggered, window, [run, command] { run(command); });
    }
    return toolbar;
}

std::optional<Command> command_at(const QToolBar& toolbar, int index) {
    const QList<QAction*> actions = toolbar.actions();
    if (index < 0 || index >= actions.size()) {
        return std::nullopt;
    }
    return static_cast<Command>(actions[index]->data().toInt());
}

}  // namespace qinglan
