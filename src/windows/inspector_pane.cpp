// SPDX-License-Identifier: MIT
// The frame inspector beside the monitor: which unit it explains, how wide it opens and
// how the monitor marks the unit's lines.
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

void TfrmMain::buildInspector() {
    pnlInspector = named(new QPlainTextEdit(this), QStringLiteral("pnlInspector"));
    pnlInspector->setAccessibleName(QStringLiteral("Inspector"));
    pnlInspector->setReadOnly(true);
    pnlInspector->setLineWrapMode(QPlainTextEdit::NoWrap);
    pnlInspector->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pnlInspector->setMinimumWidth(160);
    pnlInspector->hide();
    m_monitorSplit = new QSplitter(Qt::Horizontal, this);
    m_monitorSplit->setChildrenCollapsible(false);
    m_monitorSplit->addWidget(memoRecv);
    m_monitorSplit->addWidget(pnlInspector);
    m_monitorSplit->setStretchFactor(0, 1);
    m_monitorSplit->installEventFilter(this);
    // Only the user's drag moves the handle; the width chosen is kept from then on.
    connect(m_monitorSplit, &QSplitter::splitterMoved, this,
            [this] { m_ctx.settings.link.inspectorWidth = m_monitorSplit->sizes().value(1); });
    m_viewportTracking = memoRecv->viewport()->hasMouseTracking();
    memoRecv->viewport()->installEventFilter(this);

    connect(memoRecv, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        // Lines arriving move the caret too; that is not the user choosing a line.
        if (!pnlInspector->isHidden() && !m_inserting)
            inspectBlock(memoRecv->textCursor().blockNumber());
    });
    const auto preview = [this] {
        if (!pnlInspector->isHidden()) inspectSendPreview();
    };
    for (QLineEdit* box : {edtMsgID, edtDstID, edtSrcID})
        connect(box, &QLineEdit::textChanged, this, preview);
    connect(cmbSend, &QComboBox::editTextChanged, this, preview);
    connect(ckSendHex, &QCheckBox::toggled, this, preview);
}

void TfrmMain::setInspectorShown(bool shown) {
    mmInspector->setChecked(shown);
    m_ctx.settings.link.inspector = shown;
    memoRecv->viewport()->setMouseTracking(shown || m_viewportTracking);
    if (shown == !pnlInspector->isHidden()) return;
    pnlInspector->setVisible(shown);
    if (!shown) {
        memoRecv->setExtraSelections({});
        return;
    }
    inspectBlock(memoRecv->textCursor().blockNumber());
    sizeInspector(true);
}

void TfrmMain::showInspectorText(const QString& text) {
    if (pnlInspector->toPlainText() == text) return;
    pnlInspector->setPlainText(text);
    sizeInspector(false);
}

void TfrmMain::sizeInspector(bool opening) {
    if (pnlInspector->isHidden()) return;
    if (!m_monitorSplit->isVisible()) {
        // The splitter has its width only once the window shows (see eventFilter).
        m_inspectorSizePending = true;
        return;
    }
    opening = opening || std::exchange(m_inspectorSizePending, false);
    const int dragged = m_ctx.settings.link.inspectorWidth;
    if (!opening && dragged > 0) return;
    const int total = std::max(0, m_monitorSplit->width() - m_monitorSplit->handleWidth());
    const int least = pnlInspector->minimumWidth();
    // The monitor keeps the larger part, and at least the pane's least width.
    const int width =
        dragged > 0 ? std::clamp(dragged, least, std::max(least, total - least))
                    : std::clamp(widthForLines(*pnlInspector), least, std::max(least, total / 2));
    if (!opening && width <= pnlInspector->width()) return;
    m_monitorSplit->setSizes({total - width, width});
}

void TfrmMain::markInspected(int blockNumber) {
    const auto unitOf = [this](int number) -> const UnitLine* {
        const QTextBlock b = memoRecv->document()->findBlockByNumber(number);
        return b.isValid() ? dynamic_cast<const UnitLine*>(b.userData()) : nullptr;
    };
    const UnitLine* line = blockNumber >= 0 ? unitOf(blockNumber) : nullptr;
    if (line == nullptr) {
        if (!memoRecv->extraSelections().isEmpty()) memoRecv->setExtraSelections({});
        return;
    }
    // The lines of one unit share its bytes; an empty unit is one line.
    const auto same = [&](int number) {
        const UnitLine* other = unitOf(number);
        return !line->bytes.isEmpty() && other && other->bytes.isSharedWith(line->bytes);
    };
    int first = blockNumber;
    int last = blockNumber;
    while (first > 0 && same(first - 1)) --first;
    while (same(last + 1)) ++last;
    memoRecv->setExtraSelections(blockMarks(*memoRecv, first, last));
}

void TfrmMain::inspectBlock(int blockNumber) {
    m_inspecting = Inspecting::Line;
    m_inspectedBlock = blockNumber;
    const QTextBlock block = memoRecv->document()->findBlockByNumber(blockNumber);
    const auto* line = dynamic_cast<const UnitLine*>(block.userData());
    markInspected(blockNumber);
    if (line == nullptr) {
        showInspectorText(
            QStringLiteral("この行に受信データはありません (no received unit behind this line)"));
        return;
    }
    const bool framesFollowed =
        delimiterModeFor(m_ctx.settings.link.recvDlmt) == DelimiterMode::None;
    showInspectorText(renderDecoded(
        decodeUnit(byteSpan(line->bytes), {Direction::Received, m_modelRow, framesFollowed})));
}

void TfrmMain::inspectSendPreview() {
    m_inspecting = Inspecting::SendPreview;
    m_inspectedBlock = -1;
    markInspected(-1);
    showPendingIds();
    const PanelTexts texts{edtMsgID->text(), edtDstID->text(), edtSrcID->text(),
                           cmbSend->currentText(), parameterHexMode()};
    // The sequence number Send would take next; looking does not take it.
    const auto built = buildPanelFrame(texts, m_ctx.sender.sequence());
    const QString title = QStringLiteral("送信プレビュー (Send preview)\n");
    if (const auto* refusal = std::get_if<FrameRefusal>(&built)) {
        showInspectorText(title + QStringLiteral("送信できません (Send would refuse): ") +
                          refusal->message);
        return;
    }
    const Frame& frame = std::get<Frame>(built);
    showInspectorText(title + renderDecoded(decodeUnit(byteSpan(frame.header + frame.payload),
                                                       {Direction::Sent, m_modelRow})));
}
