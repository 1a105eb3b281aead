// SPDX-License-Identifier: MIT
#pragma once
// The inspector pane's two helpers that need widget geometry: the width that shows its lines
// whole, and the marks that show in the monitor which lines it explains.

#include <QList>
#include <QTextEdit>

class QPlainTextEdit;

// The pane width at which none of its lines (it does not wrap) is cut.
[[nodiscard]] int widthForLines(const QPlainTextEdit& pane);

// A background mark over the monitor's blocks first to last, each across the full width.
[[nodiscard]] QList<QTextEdit::ExtraSelection> blockMarks(const QPlainTextEdit& monitor, int first,
                                                          int last);
