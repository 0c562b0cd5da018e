#include "app/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "app/export_dialog.h"

namespace qinglan {

QString default_caption() {
    return QStringLiteral("信息：");
}

void QtDialogs::message(QWidget* parent, const QString& text, Icon icon, const QString& caption,
                        const QString& details) {
    QMessageBox box(parent);
    box.setWindowTitle(caption.isEmpty() ? default_caption() : caption);
    box.setText(text);
    // The technical detail, often in the words of a library, follows the
    // Chinese message in brackets.
    if (!details.isEmpty()) {
        box.setInformativeText(QStringLiteral("（") + details + QStringLiteral("）"));
    }
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
        case Icon::kNone:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case Icon::kInformation:
            box.setIcon(QMessageBox::Information);
            break;
        case Icon::kWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case Icon::kError:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    box.exec();
}

QString QtDialogs::save_file_name(QWidget* parent, const QString& title, const QString& filter,
                                  const QString& default_suffix) {
    return save_file_name_suggesting(parent, title, filter, default_suffix, QString());
}

QString QtDialogs::save_file_name_suggesting(QWidget* parent, const QString& title,
                                             const QString& filter, const QString& default_suffix,
                                             const QString& suggested) {
    // A path opens its folder with its name filled in; a bare name, the
    // working folder.
    QFileDialog dialog(parent, title, suggested, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(default_suffix);
    // A name typed without an extension gets the one of the file type chosen.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& type) {
                         const qsizetype star = type.lastIndexOf(QStringLiteral("(*."));
                         const qsizetype end = type.indexOf(QLatin1Char(')'), star);
                         if (star >= 0 && end > star + 3) {
                             dialog.setDefaultSuffix(type.mid(star + 3, end - star - 3));
                         }
                     });
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

QString QtDialogs::open_file_name(QWidget* parent, const QString& title, const QString& filter) {
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

bool QtDialogs::confirm(QWidget* parent, const QString& text) {
    QMessageBox box(parent);
    box.setWindowTitle(default_caption());
    box.setIcon(QMessageBox::Question);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool QtDialogs::choose_export(QWidget* parent, const ExportOffer& offer, ExportChoice* choice) {
    ExportDialog dialog(parent, offer);
    if (choice->made) {
        dialog.preset(*choice);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    *choice = dialog.choice();
    return true;
}

}  // namespace qinglan
