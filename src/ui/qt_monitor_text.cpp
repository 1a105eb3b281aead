// SPDX-License-Identifier: MIT
#include "ui/qt_monitor_text.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

namespace {

// What the document splits blocks at, besides '\n'.
bool isBlockBreak(QChar c) {
    return c == QChar::ParagraphSeparator || c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1;
}

}  // namespace

void setMonitorText(QPlainTextEdit& monitor, const QString& text) {
    monitor.setPlainText(text);
    // Every '\n' and every other break character started one block, in order.
    QTextBlock block = monitor.document()->firstBlock();
    for (const QChar c : text) {
        if (c != u'\n' && !isBlockBreak(c)) continue;
        block = block.next();
        if (!block.isValid()) break;
        if (isBlockBreak(c)) block.setUserState(c.unicode());
    }
}

QString monitorText(const QTextDocument& document) {
    QString text;
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
        if (block != document.firstBlock()) {
            const int state = block.userState();
            text += state > 0 && isBlockBreak(QChar(state)) ? QChar(state) : QChar(u'\n');
        }
        text += block.text();
    }
    return text;
}
