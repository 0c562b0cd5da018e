#pragma once

// The settings dialog 设置: every setting of qinglan.ini (the marketplace
// hosts, the update host, the proxy, the cookies file, the server, how much
// runs at once and the time-outs) as the settings table describes it. Every value is checked as the
// command line checks it; a bad one is refused with the reason and the dialog stays open. OK writes
// the file; the caller then uses the accepted settings for the tasks started from then on.

#include <QDialog>

#include <map>
#include <string>

#include "app/options.h"
#include "app/settings_table.h"

class QFormLayout;
class QLineEdit;

namespace qinglan {

class Dialogs;

class SettingsDialog final : public QDialog {
    Q_OBJECT

public:
    // `current`: the settings in use, its data_dir the folder of qinglan.ini.
    SettingsDialog(QWidget* parent, Dialogs& dialogs, Options current);

    static QString caption();

    // The accepted settings (after OK).
    const Options& options() const { return options_; }

    void accept() override;

private:
    // The setting's field, with its label, in `form`.
    void add_field(const Setting& setting, QFormLayout* form);
    std::map<std::string, std::string> texts() const;
    // False, having said why, when `text` cannot be used for `setting`.
    bool check(const Setting& setting, const std::string& text);
    void choose_file(const Setting& setting);

    Dialogs& dialogs_;
    Options options_;
    std::map<std::string, QLineEdit*> fields_;  // by key of qinglan.ini
};

}  // namespace qinglan
