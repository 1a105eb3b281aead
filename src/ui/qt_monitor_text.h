// SPDX-License-Identifier: MIT
#pragma once
// The monitor's text character for character. QPlainTextEdit's plain-text export turns U+00A0
// into a space and U+2028/U+2029 into line ends; a log opened and saved again must come back
// as it was. A document holds U+2029 (and the frame marks U+FDD0/U+FDD1) only as block breaks,
// so the block after such a break remembers the character in its user state.

#include <QString>

class QPlainTextEdit;
class QTextDocument;

// Shows text (lines separated by '\n') in the monitor, as setPlainText() does.
void setMonitorText(QPlainTextEdit& monitor, const QString& text);

// The document's text as setMonitorText took it, lines separated by '\n'.
[[nodiscard]] QString monitorText(const QTextDocument& document);
