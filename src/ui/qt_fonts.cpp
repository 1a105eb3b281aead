// SPDX-License-Identifier: MIT
#include "ui/qt_fonts.h"

#include <QStringList>

#include <cmath>

QFont gothicFont(int pixelSize) {
    QFont f;
    QStringList families;
    families << QStringLiteral("ＭＳ Ｐゴシック")
             << QStringLiteral("MS PGothic")
             << QStringLiteral("IPAPGothic")
             << QStringLiteral("IPAGothic")
             << QStringLiteral("Noto Sans CJK JP");
    f.setFamilies(families);
    f.setPixelSize(pixelSize);
    return f;
}

QFont minchoFont(int pixelSize) {
    QFont f;
    QStringList families;
    families << QStringLiteral("ＭＳ 明朝")
             << QStringLiteral("MS Mincho")
             << QStringLiteral("IPAMincho")
             << QStringLiteral("IPAGothic")
             << QStringLiteral("Noto Sans Mono CJK JP");
    f.setFamilies(families);
    f.setPixelSize(pixelSize);
    f.setFixedPitch(true);
    f.setStyleHint(QFont::TypeWriter);
    return f;
}

int fontPoints(const QFont& font, double dpi) {
    if (font.pointSize() > 0) return font.pointSize();
    if (dpi <= 0) dpi = 96;
    return static_cast<int>(std::lround(font.pixelSize() * 72.0 / dpi));
}
