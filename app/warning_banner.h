#pragma once

// A warning that stays in view above what it concerns, instead of a message
// box that waits for an answer: one that keeps coming back (a database out
// of reach, for each keyword) would take the keys typed for the next thing.

class QLabel;
class QString;
class QWidget;

namespace qinglan {

// A hidden banner, its object name "数据库提示".
QLabel* new_warning_banner(QWidget* parent);
// Shows `text`, with `details` (why) in its tooltip.
void show_warning(QLabel* banner, const QString& text, const QString& details);

}  // namespace qinglan
