// SPDX-License-Identifier: MIT
#pragma once
// The Windows faces the captions were drawn for, then the Japanese faces a Linux desktop has.

#include <QFont>

[[nodiscard]] QFont gothicFont(int pixelSize = 12);
[[nodiscard]] QFont minchoFont(int pixelSize = 13);
// Whole points of a font, as the monitor bar's "Size:" panel shows it.
[[nodiscard]] int fontPoints(const QFont& font, double dpi);
