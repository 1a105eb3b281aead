// SPDX-License-Identifier: MIT
#include "windows/inspector_geometry.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtMath>
#include <algorithm>

int widthForLines(const QPlainTextEdit& pane) {
    const QFontMetrics metrics(pane.font());
    int widest = 0;
    for (QTextBlock b = pane.document()->begin(); b.isValid(); b = b.next())
        widest = std::max(widest, metrics.horizontalAdvance(b.text()));
    // A long explanation scrolls vertically; its bar must not cover the line ends. The caret
    // is drawn past the last character.
    return widest + 2 * qCeil(pane.document()->documentMargin()) + 2 * pane.frameWidth() +
           pane.verticalScrollBar()->sizeHint().width() + pane.cursorWidth() + 1;
}

QList<QTextEdit::ExtraSelection> blockMarks(const QPlainTextEdit& monitor, int first, int last) {
    QColor shade = monitor.palette().color(QPalette::Highlight);
    shade.setAlpha(60);
    QList<QTextEdit::ExtraSelection> marks;
    const QTextDocument* doc = monitor.document();
    for (QTextBlock b = doc->findBlockByNumber(first); b.isValid() && b.blockNumber() <= last;
         b = b.next()) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(b);
        // Through the line break, so that the last line too is marked to the edge.
        if (!mark.cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor))
            mark.cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        mark.format.setBackground(shade);
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        marks.append(mark);
    }
    return marks;
}
