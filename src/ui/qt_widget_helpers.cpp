// SPDX-License-Identifier: MIT
#include "ui/qt_widget_helpers.h"

#include <QRect>
#include <QScreen>
#include <QWidget>

void placeCentred(QWidget& window, const QPoint& centre, const QScreen* screen) {
    if (screen == nullptr) return;  // no screen attached: the window system places it
    const QRect area = screen->availableGeometry();
    QRect frame = window.frameGeometry();
    frame.moveCenter(centre);
    if (frame.bottom() > area.bottom()) frame.moveBottom(area.bottom());
    if (frame.right() > area.right()) frame.moveRight(area.right());
    if (frame.top() < area.top()) frame.moveTop(area.top());
    if (frame.left() < area.left()) frame.moveLeft(area.left());
    window.move(frame.topLeft());
}

void placeCentredOnScreen(QWidget& window) {
    if (const QScreen* where = window.screen())
        placeCentred(window, where->availableGeometry().center(), where);
}
