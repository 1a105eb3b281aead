// SPDX-License-Identifier: MIT
#include "core/key_layout.h"

#include <algorithm>

namespace {

int columnsFor(int keyCount) {
    if (keyCount <= 4) return 1;
    if (keyCount <= 8) return 2;
    if (keyCount <= 27) return 3;
    if (keyCount <= 48) return 4;
    return 5;
}

// Narrow layouts are centred in the same 336-pixel window as the five-column one; the
// two-column layout keeps the one-column margin and is the only one that comes out wider.
int leftMarginFor(int columns, int buttonWidth) {
    switch (columns) {
        case 1:
        case 2:
            return 2 * buttonWidth + 16;
        case 3:
            return buttonWidth + 12;
        case 4:
            return (buttonWidth + 4) / 2 + 8;
        default:
            return 8;
    }
}

}  // namespace

QRect KeyLayout::buttonRect(int key) const {
    const int i = key - 1;
    const int column = i % columns;
    const int row = i / columns;
    return {leftMargin + column * (buttonWidth + 4), kFirstKeyTop + row * (buttonHeight + 10),
            buttonWidth, buttonHeight};
}

QRect KeyLayout::lampRect(int key) const {
    const QRect button = buttonRect(key);
    return {button.left() + kLampOffset, button.top() + kLampOffset, kLampSize, kLampSize};
}

KeyLayout keyLayoutFor(int keyCount, int buttonWidth, int buttonHeight) {
    KeyLayout l;
    l.keyCount = std::clamp(keyCount, 0, kMaxKeys);
    l.buttonWidth = buttonWidth;
    l.buttonHeight = buttonHeight;
    l.columns = columnsFor(l.keyCount);
    l.rows = (l.keyCount + l.columns - 1) / l.columns;
    l.leftMargin = leftMarginFor(l.columns, buttonWidth);
    l.keyAreaHeight = l.rows * (buttonHeight + 10) + 32;
    l.clientWidth = (buttonWidth + 4) * l.columns + 2 * l.leftMargin;
    l.clientHeight = l.keyAreaHeight + kOptionStripHeight + kStatusBarHeight;
    return l;
}

QString keyButtonName(int key) {
    return QStringLiteral("btnK%1").arg(key, 2, 10, QLatin1Char('0'));
}

QString keyLampName(int key) { return QStringLiteral("pnlK%1").arg(key, 2, 10, QLatin1Char('0')); }
