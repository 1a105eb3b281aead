// SPDX-License-Identifier: MIT
#pragma once
// Where the key panel puts its keys. The panel owns 70 buttons and lamps and shows the first N
// of them in C columns; everything about the window's geometry follows from N and the button
// size, so it is worked out here without any widget.

#include <QRect>
#include <QString>

inline constexpr int kMaxKeys = 70;
inline constexpr int kKeyButtonWidth = 60;
inline constexpr int kKeyButtonHeight = 25;
inline constexpr int kLampSize = 13;
inline constexpr int kLampOffset = 6;          // from the button's top-left corner
inline constexpr int kOptionStripHeight = 72;  // pnlClear
inline constexpr int kStatusBarHeight = 19;
inline constexpr int kFirstKeyTop = 20;

struct KeyLayout {
    int keyCount = 0;  // the keys shown, 0 to kMaxKeys
    int columns = 1;
    int rows = 0;
    int leftMargin = 0;
    int buttonWidth = kKeyButtonWidth;
    int buttonHeight = kKeyButtonHeight;
    int keyAreaHeight = 0;  // pnlKey
    int clientWidth = 0;
    int clientHeight = 0;

    // Keys are numbered 1..kMaxKeys row by row, left to right. Keys beyond keyCount are hidden
    // and their rectangles are meaningless.
    [[nodiscard]] bool isShown(int key) const { return key >= 1 && key <= keyCount; }
    [[nodiscard]] QRect buttonRect(int key) const;
    [[nodiscard]] QRect lampRect(int key) const;
};

// The layout for a key count of the "Remocon Panel" entries (2, 4, 8, 18, 27, 32, 48, 70).
// Other counts are clamped to 0..70 and get the column count of the nearest listed count at or
// above them, with as many rows as the keys need.
[[nodiscard]] KeyLayout keyLayoutFor(int keyCount, int buttonWidth = kKeyButtonWidth,
                                     int buttonHeight = kKeyButtonHeight);

// Auto Focus after sending key n: the next key, or key 1 past the last (also after Clear's 204).
[[nodiscard]] constexpr int nextFocusKey(int sentKey, int keyCount) {
    return sentKey + 1 > keyCount ? 1 : sentKey + 1;
}

// A key button's Tag holds its key number minus 1; the one click handler reads it back.
[[nodiscard]] constexpr int buttonTagFor(int key) { return key - 1; }
[[nodiscard]] constexpr int keyFromButtonTag(int tag) { return tag + 1; }

// Object names by which the windows find a key's controls: "btnK07", "pnlK07".
[[nodiscard]] QString keyButtonName(int key);
[[nodiscard]] QString keyLampName(int key);
