#pragma once

// The message boxes and the save dialog of the windows, behind an interface
// so that tests can answer them without anything blocking.

#include <QString>

class QWidget;

namespace qinglan {

struct ExportChoice;
struct ExportOffer;

class Dialogs {
public:
    enum class Icon { kNone, kInformation, kWarning, kError };

    virtual ~Dialogs() = default;

    // A message with an OK button; returns when it is closed. The caption is
    // "信息：" unless another is given; `details`, when given, follows the
    // text in brackets.
    virtual void message(QWidget* parent, const QString& text, Icon icon = Icon::kNone,
                         const QString& caption = QString(),
                         const QString& details = QString()) = 0;

    // The file chosen in a save dialog that asks before replacing a file;
    // empty when cancelled.
    virtual QString save_file_name(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& default_suffix) = 0;

    // The existing file chosen in an open dialog; empty when cancelled.
    virtual QString open_file_name(QWidget* parent, const QString& title,
                                   const QString& filter) = 0;

    // save_file_name(), the dialog opening in the folder of `suggested`
    // with its file name filled in; by default the suggestion is not shown.
    virtual QString save_file_name_suggesting(QWidget* parent, const QString& title,
                                              const QString& filter, const QString& default_suffix,
                                              const QString& suggested) {
        (void)suggested;
        return save_file_name(parent, title, filter, default_suffix);
    }

    // A question with 是 and 否 (the default); true for 是.
    virtual bool confirm(QWidget* parent, const QString& text) = 0;

    // The export dialog, showing `choice` when the user made it in an
    // earlier one (it was refused); false when cancelled.
    virtual bool choose_export(QWidget* parent, const ExportOffer& offer, ExportChoice* choice) = 0;
};

// The real boxes, task-modal.
class QtDialogs final : public Dialogs {
public:
    void message(QWidget* parent, const QString& text, Icon icon, const QString& caption,
                 const QString& details) override;
    QString save_file_name(QWidget* parent, const QString& title, const QString& filter,
                           const QString& default_suffix) override;
    QString open_file_name(QWidget* parent, const QString& title, const QString& filter) override;
    QString save_file_name_suggesting(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& default_suffix,
                                      const QString& suggested) override;
    bool confirm(QWidget* parent, const QString& text) override;
    bool choose_export(QWidget* parent, const ExportOffer& offer, ExportChoice* choice) override;
};

// The default caption of a message box.
QString default_caption();

}  // namespace qinglan
