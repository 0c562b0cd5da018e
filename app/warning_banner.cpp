#include "app/warning_banner.h"

#include <QLabel>
#include <QString>

namespace qinglan {

QLabel* new_warning_banner(QWidget* parent) {
    auto* banner = new QLabel(parent);
    banner->setObjectName(QStringLiteral("数据库提示"));
    banner->setWordWrap(true);
    banner->setTextInteractionFlags(Qt::TextSelectableByMouse);
    banner->setStyleSheet(
        QStringLiteral("QLabel { background: #fff4ce; color: #5c3c00; border: 1px solid #e0b84c; "
                       "padding: 4px; }"));
    banner->hide();
    return banner;
}

void show_warning(QLabel* banner, const QString& text, const QString& details) {
    banner->setText(text);
    banner->setToolTip(details);
    banner->show();
}

}  // namespace qinglan
