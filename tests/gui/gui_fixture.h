#pragma once

// What the window tests share: message boxes that answer at once and keep
// what they were asked, a data folder, and a sample marketplace.

#include <QApplication>
#include <QString>
#include <QTest>

#include <filesystem>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/export_dialog.h"
#include "engine/request.h"
#include "services/charset.h"
#include "tests/marketplace_pages.h"
#include "tests/temp_folder.h"
#include "tools/sample_marketplace.h"

namespace qinglan {

class RecordingDialogs final : public Dialogs {
public:
    struct Message {
        QString text;
        Icon icon;
        QString caption;
        QString details;
    };

    void message(QWidget*, const QString& text, Icon icon, const QString& caption,
                 const QString& details) override {
        messages.push_back({text, icon, caption.isEmpty() ? default_caption() : caption, details});
    }
    QString save_file_name(QWidget*, const QString& title, const QString& filter,
                           const QString& default_suffix) override {
        save_requests.push_back(title + "|" + filter + "|" + default_suffix);
        return save_answer;
    }
    bool confirm(QWidget*, const QString& text) override {
        questions.push_back(text);
        return confirm_answer;
    }
    bool choose_export(QWidget*, const ExportOffer& offer, ExportChoice* choice) override {
        export_offers.push_back(offer);
        *choice = export_answer;
        return export_chosen;
    }

    std::vector<Message> messages;
    std::vector<QString> save_requests;
    QString save_answer;
    std::vector<QString> questions;
    bool confirm_answer = true;
    std::vector<ExportOffer> export_offers;
    ExportChoice export_answer;  // the selected tab's rows, all of them
    bool export_chosen = true;
};

}  // namespace qinglan
