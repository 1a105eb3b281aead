// SPDX-License-Identifier: MIT
// The frame inspector beside the monitor: a chosen or hovered line shows its unit decoded, and
// while the send panel is edited it shows what Send would write, without writing it.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QTextBlock>
#include <variant>

#include "core/frame_decoder.h"
#include "core/frame_format.h"
#include "support/main_window_fixture.h"
#include "support/test_bytes.h"

namespace {

std::span<const std::uint8_t> span(const QByteArray& b) {
    return {reinterpret_cast<const std::uint8_t*>(b.constData()), static_cast<std::size_t>(b.size())};
}

QString decodedReceived(const QByteArray& unit) {
    return renderDecoded(decodeUnit(span(unit), {Direction::Received, 0}));
}

// The monitor lines marked as the unit the pane explains.
QList<int> marked(const QPlainTextEdit& monitor) {
    QList<int> blocks;
    for (const QTextEdit::ExtraSelection& mark : monitor.extraSelections())
        blocks.append(monitor.document()->findBlock(mark.cursor.selectionStart()).blockNumber());
    return blocks;
}

QList<int> range(int first, int end) {
    QList<int> r;
    for (int i = first; i < end; ++i) r.append(i);
    return r;
}

const QString kNoUnit = QStringLiteral("この行に受信データはありません (no received unit behind this line)");

class InspectorTest : public MainWindowTest {
protected:
    void SetUp() override {
        start();
        window->show();
        window->setInspectorShown(true);
    }
    void receive(const QByteArray& unit) {
        window->receivePipeline().received(span(unit), ticks.now());
        window->flush();
    }
    void selectLine(int block) {
        QTextCursor c(window->memoRecv->document()->findBlockByNumber(block));
        window->memoRecv->setTextCursor(c);
    }
    QString pane() const { return window->pnlInspector->toPlainText(); }
    QByteArray keyFrame() const {
        return QByteArray::fromHex("0f5a131301ffffffff000000010000000003fc");
    }
};

TEST_F(InspectorTest, AChosenLineShowsItsUnitDecoded) {
    const QByteArray response = testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78);
    const struct {
        const char* row;
        int lineWidth;  // rendered characters per monitor line
        bool logTime;
        int line;  // the line of the second unit that is chosen
    } cases[] = {
        {"one line", 512, false, 0},
        {"wrapped, first line", 40, false, 0},
        {"wrapped, its last line", 40, false, 1},
        {"with LogTime", 512, true, 0},
    };
    for (const auto& c : cases) {
        window->btnClearClick();
        context->settings.link.lineWidth = c.lineWidth;
        window->ckLogTime->setChecked(c.logTime);
        receive(keyFrame());
        const int second = window->monitorLineCount();
        receive(response);
        const int end = window->monitorLineCount();
        ASSERT_GT(end, second + c.line) << c.row;
        selectLine(second + c.line);
        EXPECT_EQ(pane(), decodedReceived(response)) << c.row;
        // All of the unit's lines are marked, and only they.
        EXPECT_EQ(marked(*window->memoRecv), range(second, end)) << c.row;
        // The line before it is the other unit: each line maps to its own.
        selectLine(second - 1);
        EXPECT_EQ(pane(), decodedReceived(keyFrame())) << c.row;
        EXPECT_EQ(marked(*window->memoRecv), range(0, second)) << c.row;
    }
    // The same bytes twice are two units, each marked alone.
    window->btnClearClick();
    receive(keyFrame());
    receive(keyFrame());
    selectLine(1);
    EXPECT_EQ(marked(*window->memoRecv), range(1, 2));
    // Nothing is marked while the pane explains no line, or is hidden.
    window->edtMsgID->setText(QStringLiteral("2A"));
    EXPECT_TRUE(marked(*window->memoRecv).isEmpty());
    selectLine(0);
    window->setInspectorShown(false);
    EXPECT_TRUE(marked(*window->memoRecv).isEmpty());
}

TEST_F(InspectorTest, LinesWithoutAUnitAndAClearedMonitorShowNoUnit) {
    window->appendLines({QStringLiteral("38400bps")});
    receive(keyFrame());
    selectLine(1);
    ASSERT_EQ(pane(), decodedReceived(keyFrame()));
    selectLine(0);
    EXPECT_EQ(pane(), kNoUnit);
    window->btnClearClick();
    EXPECT_EQ(pane(), kNoUnit);
    EXPECT_TRUE(marked(*window->memoRecv).isEmpty());
    // The kept bytes went with the lines: a fresh line of text has none behind it.
    window->memoRecv->insertPlainText(QStringLiteral("typed"));
    EXPECT_EQ(pane(), kNoUnit);
}

TEST_F(InspectorTest, HoveringALineShowsItsUnitAndLeavingReturnsToTheCaret) {
    const QByteArray response = testbytes::settingsResponse(1, 2, 3, 4);
    receive(keyFrame());
    receive(response);
    selectLine(0);
    QWidget* viewport = window->memoRecv->viewport();
    QTextCursor second(window->memoRecv->document()->findBlockByNumber(1));
    QTest::mouseMove(viewport, window->memoRecv->cursorRect(second).center());
    EXPECT_EQ(pane(), decodedReceived(response));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(viewport, &leave);
    EXPECT_EQ(pane(), decodedReceived(keyFrame()));
}

// The receiver counts a stray byte into the length and applies bytes 32 to 35 of the unit; the
// pane shows those beside the frame's own fields.
TEST_F(InspectorTest, AStrayByteShowsTheIdsTheTerminalApplied) {
    QByteArray response = testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78);
    response[31] = static_cast<char>(0x92);
    receive(QByteArray::fromHex("AA") + response);
    // Silence past the receive timeout ends the unit of the one byte left over.
    window->receivePipeline().received({}, ticks.now() + 1000);
    window->flush();
    EXPECT_EQ(window->edtSysID->text(), QStringLiteral("0x9212"));
    EXPECT_EQ(window->edtProID->text(), QStringLiteral("0x3456"));
    selectLine(0);
    const QStringList lines = pane().split(u'\n');
    EXPECT_TRUE(lines.first().endsWith(QStringLiteral("1 stray byte(s) before the start mark")))
        << lines.first().toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("SysID: 0x1234; the terminal applied 0x9212")).size(), 1)
        << pane().toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("ProID: 0x5678; the terminal applied 0x3456")).size(), 1);
}

TEST_F(InspectorTest, SendPreviewFollowsTypingAndWritesNothing) {
    const std::size_t writesBefore = serial.writes.size();
    const std::uint8_t sequence = context->sender.sequence();
    const QString title = QStringLiteral("送信プレビュー (Send preview)\n");
    const struct {
        const char* row;
        const char* msgId;
        const char* parameter;
        bool hex;
        bool refused;
    } cases[] = {
        {"text", "2A", "AB", false, false},
        {"hex", "0B", "01 02 FC", true, false},
        {"bad hex pair", "0B", "01 G2", true, true},
    };
    for (const auto& c : cases) {
        window->ckSendHex->setChecked(c.hex);
        window->cmbSend->setEditText({});
        window->edtMsgID->setText(QString::fromLatin1(c.msgId));
        QTest::keyClicks(window->cmbSend->lineEdit(), QString::fromLatin1(c.parameter));
        const PanelTexts texts{window->edtMsgID->text(), window->edtDstID->text(),
                               window->edtSrcID->text(), QString::fromLatin1(c.parameter), c.hex};
        const auto built = buildPanelFrame(texts, sequence);
        ASSERT_EQ(std::holds_alternative<FrameRefusal>(built), c.refused) << c.row;
        if (const auto* refusal = std::get_if<FrameRefusal>(&built)) {
            EXPECT_TRUE(pane().startsWith(title)) << c.row;
            EXPECT_TRUE(pane().endsWith(refusal->message)) << c.row << pane().toStdString();
        } else {
            const Frame& f = std::get<Frame>(built);
            EXPECT_EQ(pane(), title + renderDecoded(decodeUnit(span(f.header + f.payload),
                                                               {Direction::Sent, 0})))
                << c.row;
        }
    }
    EXPECT_EQ(serial.writes.size(), writesBefore);
    EXPECT_EQ(context->sender.sequence(), sequence);
}

// Hidden at start, and its key stays out of a file without it; once there, it brings the pane
// back at the next start and is kept when turned off.
class InspectorStartTest : public MainWindowTest {
protected:
    void restart(const QByteArray& ini) {
        survey.reset();
        rem.reset();
        window.reset();
        writeIni(ini);
        start();
    }
    QSplitter& split() { return *window->findChild<QSplitter*>(); }
    int paneWidth() { return split().sizes().value(1); }
};

TEST_F(InspectorStartTest, HiddenAtStartAndKeptOnlyOnceUsed) {
    start();
    EXPECT_TRUE(window->pnlInspector->isHidden());
    EXPECT_FALSE(window->mmInspector->isChecked());
    window->close();
    EXPECT_FALSE(iniText().contains("Inspector"));

    survey.reset();
    rem.reset();
    window.reset();
    writeIni("[COMPORT]\r\nInspector=1\r\n");
    start();
    EXPECT_FALSE(window->pnlInspector->isHidden());
    EXPECT_TRUE(window->mmInspector->isChecked());
    window->mmInspector->trigger();
    EXPECT_TRUE(window->pnlInspector->isHidden());
    window->close();
    EXPECT_TRUE(iniText().contains("Inspector=0"));
    EXPECT_FALSE(iniText().contains("InspectorWidth"));
}

// Opened at start or from the menu, the pane shows its longest line whole, or takes half the
// window when that is not enough; a dragged width comes back at the next start.
TEST_F(InspectorStartTest, OpensWideEnoughForItsLinesAndKeepsADraggedWidth) {
    const QByteArray response = testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78);
    const auto expectFits = [this](const char* row) {
        QCoreApplication::processEvents();
        const int half = (split().width() - split().handleWidth()) / 2;
        const int cut = window->pnlInspector->horizontalScrollBar()->maximum();
        EXPECT_TRUE((cut == 0 && paneWidth() <= half) || paneWidth() == half)
            << row << ": width " << paneWidth() << " of " << split().width() << ", cut " << cut;
    };
    const struct {
        const char* row;
        int windowWidth;
        bool atStart;
    } cases[] = {
        {"at start, wide window", 1600, true},
        {"at start, narrow window", 700, true},
        {"from the menu, wide window", 1600, false},
        {"from the menu, narrow window", 700, false},
    };
    for (const auto& c : cases) {
        restart(c.atStart ? "[COMPORT]\r\nInspector=1\r\n" : "");
        window->resize(c.windowWidth, 600);
        window->show();
        window->receivePipeline().received(span(response), ticks.now());
        window->flush();
        QTextCursor onResponse(window->memoRecv->document()->begin());
        onResponse.movePosition(QTextCursor::EndOfBlock);
        if (c.atStart) expectFits(c.row);
        // At start a longer explanation widens the pane; from the menu it opens on it.
        window->memoRecv->setTextCursor(onResponse);
        if (!c.atStart) window->mmInspector->trigger();
        ASSERT_EQ(window->pnlInspector->toPlainText(), decodedReceived(response)) << c.row;
        expectFits(c.row);
        window->close();
    }

    // A drag of the handle is kept, and brings the pane back at that width.
    restart("[COMPORT]\r\nInspector=1\r\n");
    window->resize(1000, 600);
    window->show();
    QWidget* handle = split().handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    const auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, handle->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &e);
    };
    const int before = paneWidth();
    mouse(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    mouse(QEvent::MouseMove, grip - QPoint(120, 0), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, grip - QPoint(120, 0), Qt::NoButton);
    const int dragged = paneWidth();
    ASSERT_EQ(dragged, before + 120);
    window->close();
    EXPECT_TRUE(iniText().contains("InspectorWidth=" + QByteArray::number(dragged)));
    restart(iniText());
    window->resize(1000, 600);
    window->show();
    EXPECT_EQ(paneWidth(), dragged);
}

}  // namespace
