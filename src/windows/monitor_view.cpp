// SPDX-License-Identifier: MIT
// The main window as the receive pipeline's monitor: lines gathered during a poll and
// inserted in one edit, paced so that a flood costs few paints, with each line's unit kept as
// block data for the inspector.
#include "windows/frmMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <variant>

#include "core/frame_decoder.h"
#include "core/frame_format.h"
#include "core/framing.h"
#include "core/module_commands.h"
#include "core/module_model.h"
#include "core/profile_text.h"
#include "core/ticks.h"
#include "platform/network_port_name.h"
#include "session/app_context.h"
#include "session/handler_guard.h"
#include "session/monitor_file.h"
#include "ui/qt_accessibility.h"
#include "ui/qt_click_panel.h"
#include "ui/qt_combo_habits.h"
#include "ui/qt_fonts.h"
#include "ui/qt_monitor_scroll_bar.h"
#include "ui/qt_monitor_text.h"
#include "ui/qt_widget_helpers.h"
#include "windows/frmCom.h"
#include "windows/frmRem.h"
#include "windows/frmSurvey.h"
#include "windows/inspector_geometry.h"
#include "windows/monitor_lines.h"

int TfrmMain::lineCount() const {
    const QTextDocument* doc = memoRecv->document();
    int lines = 0;
    if (!doc->isEmpty() && !m_clearPending) {
        lines = doc->blockCount();
        // The empty block after a final line end is where the next line goes, not a line.
        if (doc->lastBlock().length() <= 1) --lines;
    }
    return lines + static_cast<int>(m_pendingLines.size());
}

void TfrmMain::dropPendingLines() {
    m_pendingLines.clear();
    m_pendingUnits.clear();
    m_pendingLineCount.reset();
}

void TfrmMain::clearMonitor() {
    dropPendingLines();
    m_clearPending = false;
    memoRecv->clear();
}

void TfrmMain::clearFullMonitor() {
    dropPendingLines();
    // The lines shown go with the next flush, in the same edit as the lines that follow: a
    // flood reaches the cap many times between two flushes, and clearing at once would lay out
    // and draw an empty monitor, its scroll bars and what assistive technology is told, only
    // for the flush to fill it again. The pipeline flushes once its poll is over.
    if (!memoRecv->document()->isEmpty()) m_clearPending = true;
}

void TfrmMain::appendLines(const QStringList& lines) {
    m_pendingLines += lines;
    m_pendingUnits.resize(m_pendingUnits.size() + static_cast<std::size_t>(lines.size()));
}

void TfrmMain::appendUnitLines(const QStringList& lines, std::span<const std::uint8_t> unit) {
    m_pendingLines += lines;
    const QByteArray bytes(reinterpret_cast<const char*>(unit.data()),
                           static_cast<qsizetype>(unit.size()));
    m_pendingUnits.insert(m_pendingUnits.end(), static_cast<std::size_t>(lines.size()), bytes);
}

void TfrmMain::showLineCount(int count) { m_pendingLineCount = count; }

void TfrmMain::flushSoon() {
    if (tmFlush->isActive()) return;
    if (m_pendingLines.isEmpty() && !m_pendingLineCount && !m_pendingIds && !m_clearPending)
        return;
    // A quiet line shows its unit at once. Appends within a frame of the last insertion are
    // gathered; once gathering was needed, the line is busy and gathers for two frames, so that
    // a stream costs one insertion and one repaint per two frames. While every flush replaces
    // what the monitor shows, the lines fly past unread and it gathers for four. A gap of the
    // window ends it.
    const qint64 since = m_lastInsert.isValid() ? m_lastInsert.elapsed() : kFloodFlushMs;
    int window = kFlushFrameMs;
    if (m_busy) {
        const int shown =
            memoRecv->viewport()->height() / std::max(1, memoRecv->fontMetrics().lineSpacing());
        window = m_lastFlushLines > shown ? kFloodFlushMs : kBusyFlushMs;
    }
    if (since >= window) {
        flush();
        return;
    }
    tmFlush->start(static_cast<int>(window - since));
}

void TfrmMain::flush() {
    tmFlush->stop();
    m_busy = false;
    if (m_clearPending) {
        m_clearPending = false;
        memoRecv->clear();
    }
    if (!m_pendingLines.isEmpty()) {
        QScrollBar* bar = memoRecv->verticalScrollBar();
        const bool atBottom = bar->value() >= bar->maximum() - 1;
        QTextDocument* doc = memoRecv->document();
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::End);
        QString text = m_pendingLines.join(u'\n') + u'\n';
        // After a last line the user typed without ending it.
        const bool afterTyped = !doc->isEmpty() && doc->lastBlock().length() > 1;
        if (afterTyped) text.prepend(u'\n');
        const int firstBlock = doc->lastBlock().blockNumber() + (afterTyped ? 1 : 0);
        // Received lines are not the user's edits: Undo must not take them away. As with the
        // desktop's edit control, adding them ends what could be undone.
        doc->setUndoRedoEnabled(false);
        m_inserting = true;
        cursor.insertText(text);
        m_inserting = false;
        doc->setUndoRedoEnabled(true);
        QTextBlock block = doc->findBlockByNumber(firstBlock);
        for (const std::optional<QByteArray>& unit : m_pendingUnits) {
            if (unit) {
                block.setUserData(new UnitLine(*unit));
            } else if (block.userData() != nullptr) {
                block.setUserData(nullptr);
            }
            block = block.next();
        }
        if (block.isValid() && block.userData() != nullptr) block.setUserData(nullptr);
        m_pendingUnits.clear();
        m_lastFlushLines = static_cast<int>(m_pendingLines.size());
        m_probe.lines += static_cast<std::uint64_t>(m_pendingLines.size());
        m_pendingLines.clear();
        // Follow new lines only when the user was already at the end.
        if (atBottom) bar->setValue(bar->maximum());
        m_lastInsert.start();
        m_probe.shownAt = std::chrono::steady_clock::now();
    }
    showPendingIds();
    if (m_pendingLineCount) {
        showCountInPanel0(QString::number(*m_pendingLineCount));
        m_pendingLineCount.reset();
    }
}

bool TfrmMain::logTime() const { return ckLogTime->isChecked(); }

bool TfrmMain::oneShot() const { return ckOneShot->isChecked(); }

QString TfrmMain::clockText() const { return pnlClock->text(); }
