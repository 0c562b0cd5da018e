#include "app/window_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace qinglan {
namespace {

// A title bar and a thin frame, for a window not yet framed.
constexpr int kFrameWidth = 8;
constexpr int kFrameHeight = 36;

const QScreen* screen_of(const QWidget* window) {
    const QScreen* screen = window->screen();
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

}  // namespace

QRect fit_into(const QRect& available, const QSize& wanted, const QSize& frame) {
    const int width = std::max(1, std::min(wanted.width(), available.width() - frame.width()));
    const int height = std::max(1, std::min(wanted.height(), available.height() - frame.height()));
    const int outer_width = width + frame.width();
    const int outer_height = height + frame.height();
    const int left = available.left() + std::max(0, (available.width() - outer_width) / 2);
    const int top = available.top() + std::max(0, (available.height() - outer_height) / 2);
    // The inside starts below the title bar and within the left border.
    return QRect(left + frame.width() / 2, top + frame.height() - frame.width() / 2, width, height);
}

int available_width(const QWidget* window) {
    const QScreen* screen = screen_of(window);
    return screen == nullptr ? std::numeric_limits<int>::max()
                             : screen->availableGeometry().width() - kFrameWidth;
}

void fit_to_screen(QWidget* window, const QSize& wanted) {
    const QScreen* screen = screen_of(window);
    if (screen == nullptr) {
        window->resize(wanted);
        return;
    }
    QSize frame = window->frameGeometry().size() - window->geometry().size();
    if (!window->isVisible() || frame.width() <= 0 || frame.height() <= 0) {
        frame = QSize(kFrameWidth, kFrameHeight);
    }
    const QRect place = fit_into(screen->availableGeometry(), wanted, frame);
    // A window cannot be smaller than its layout allows: the minimum gives
    // way, and what does not fit scrolls or is cut at the least important
    // side.
    const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());
    window->setMinimumSize(least.boundedTo(place.size()));
    window->resize(place.size());
    window->move(place.topLeft() - QPoint(frame.width() / 2, frame.height() - frame.width() / 2));
}

}  // namespace qinglan
