// SPDX-License-Identifier: MIT
#pragma once
// Small habits every window shares: widgets carry their design names, and windows are placed
// centred on a point without leaving the screen.

#include <QString>

class QPoint;
class QScreen;
class QWidget;

template <typename W>
W* named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// Moves the window's frame so that its centre is at centre, then back inside the available
// area of screen, top-left last, so that a window larger than the screen keeps its title bar
// reachable. Nothing happens without a screen.
void placeCentred(QWidget& window, const QPoint& centre, const QScreen* screen);
// Centred on the window's own screen.
void placeCentredOnScreen(QWidget& window);
