#pragma once

// Windows that fit the screen they open on. A window is laid out for its
// usual size, but a small screen (800 × 600) or a large scale factor leaves
// less room than that: the window, its title bar and frame included, then
// shrinks to the available area and is placed inside it, so that every part
// of it, its buttons above all, can be reached.

#include <QRect>
#include <QSize>

class QWidget;

namespace qinglan {

// Where a window whose inside wants `wanted` goes in `available` (a
// screen's area without its panels), `frame` being what its title bar and
// frame add: its inside's geometry, never larger than the area leaves,
// centred and wholly within it.
QRect fit_into(const QRect& available, const QSize& wanted, const QSize& frame);

// The widest inside a window on `window`'s screen can have, its frame
// estimated.
int available_width(const QWidget* window);

// Resizes and places `window` by fit_into on its screen (the primary one
// before it is shown). Before the window system has framed the window its
// frame is estimated.
void fit_to_screen(QWidget* window, const QSize& wanted);

}  // namespace qinglan
