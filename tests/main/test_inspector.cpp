// SPDX-License-Identifier: MIT
// The frame inspector beside the monitor: a chosen or hovered line shows its unit decoded, and
// while the send panel is edited it shows what Send would write, without writing it.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <variant>

#include "com/frame_decoder.h"
#include "com/frame_format.h"
#include "support/main_window_fixture.h"
#include "support/test_bytes.h"

namespace {

std::span<const std::uint8_t> span(const QByteArray& b) {
    return {reinterpret_cast<const std::uint8_t*>(b.constData()), static_cast<std::size_t>(b.size())};
}

QString decodedReceived(const QByteArray& unit) {
    return renderDecoded(decodeUnit(span(unit), {Direction::Received, 0}));
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
        ASSERT_GT(window->monitorLineCount(), second + c.line) << c.row;
        selectLine(second + c.line);
        EXPECT_EQ(pane(), decodedReceived(response)) << c.row;
        // The line before it is the other unit: each line maps to its own.
        selectLine(second - 1);
        EXPECT_EQ(pane(), decodedReceived(keyFrame())) << c.row;
    }
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
class InspectorStartTest : public MainWindowTest {};

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
}

}  // namespace
