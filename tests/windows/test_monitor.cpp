// SPDX-License-Identifier: MIT
// The monitor's commands through the window: Clear, font, Open and Save As with their
// crossed proposals and failures.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>

#include "ui/qt_click_panel.h"
#include "support/main_window_fixture.h"

namespace {

class MonitorTest : public MainWindowTest {
protected:
    void SetUp() override { start(); }
    void receiveLines(const QStringList& lines) {
        window->appendLines(lines);
        window->flush();
    }
    QByteArray readFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    void writeFile(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

TEST_F(MonitorTest, ClearEmptiesMonitorAndLineCount) {
    receiveLines({QStringLiteral(" 41h"), QStringLiteral(" 42h")});
    EXPECT_EQ(window->monitorLineCount(), 2);
    QTest::mouseClick(window->btnClear, Qt::LeftButton);
    EXPECT_EQ(window->monitorLineCount(), 0);
    EXPECT_EQ(window->sBarPanel0->text(), QString());
    QTest::mouseClick(window->btnClear, Qt::LeftButton);
    EXPECT_TRUE(window->memoRecv->toPlainText().isEmpty());
}

// Line counts wait for the next flush; whatever writes panel 0 after them must not be
// overwritten by them.
// A full monitor starts again with the next flush, as one edit with the lines that follow;
// what the user types meanwhile goes after them, not into the lines about to go.
TEST_F(MonitorTest, FullMonitorStartsAgainWithTheNextFlush) {
    window->appendLines({QStringLiteral("old")});
    window->flush();
    window->clearFullMonitor();
    EXPECT_EQ(window->monitorLineCount(), 0);
    window->appendLines({QStringLiteral("new")});
    window->flush();
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral("new\n"));
    window->clearFullMonitor();
    QTest::keyClick(window->memoRecv, Qt::Key_X);
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral("x"));
}

TEST_F(MonitorTest, LaterPanelTextsWinOverAWaitingLineCount) {
    window->appendLines({QStringLiteral(" 41h")});
    window->showLineCount(1);
    context->port.close();
    window->flush();
    EXPECT_EQ(window->sBarPanel0->text(), QStringLiteral("COM1:OFF"));
    EXPECT_EQ(window->monitorLineCount(), 1) << "the line itself is shown";

    window->appendLines({QStringLiteral(" 42h")});
    window->showLineCount(2);
    QTest::mouseClick(window->btnClear, Qt::LeftButton);
    window->flush();
    EXPECT_EQ(window->sBarPanel0->text(), QString());
    EXPECT_EQ(window->monitorLineCount(), 0);
}

// A quiet line shows its unit at once; what follows within a frame is gathered and shown by
// the flush timer, with the line count.
TEST_F(MonitorTest, QuietLineShowsAtOnceAndBusyLineWithinFrames) {
    window->appendLines({QStringLiteral(" 41h")});
    window->showLineCount(1);
    window->flushSoon();
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral(" 41h\n")) << "no timer waited for";
    EXPECT_EQ(window->sBarPanel0->text(), QStringLiteral("1"));

    window->appendLines({QStringLiteral(" 42h")});
    window->showLineCount(2);
    window->flushSoon();
    EXPECT_EQ(window->monitorLineCount(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->sBarPanel0->text() == QStringLiteral("2"); },
                                1000));
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral(" 41h\n 42h\n"));
}

// Typing at the end starts a line of its own (every received line has its line end), Undo
// never takes received lines away, and Tab moves on instead of typing a tab.
TEST_F(MonitorTest, TypingUndoAndTabInTheMonitor) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    receiveLines({QStringLiteral(" 41h")});
    window->memoRecv->setFocus();
    window->memoRecv->moveCursor(QTextCursor::End);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral(" note"));
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral(" 41h\n note"));
    EXPECT_EQ(window->monitorLineCount(), 2);
    receiveLines({QStringLiteral(" 42h")});
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral(" 41h\n note\n 42h\n"));
    for (int i = 0; i < 3; ++i) QTest::keySequence(QApplication::focusWidget(), QKeySequence::Undo);
    EXPECT_TRUE(window->memoRecv->toPlainText().endsWith(QStringLiteral(" 42h\n")))
        << window->memoRecv->toPlainText().toStdString();

    const QString before = window->memoRecv->toPlainText();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(window->memoRecv->toPlainText(), before);
    EXPECT_FALSE(window->memoRecv->hasFocus());
}

TEST_F(MonitorTest, SaveWritesEveryAppendedLineWithCrLf) {
    receiveLines({QStringLiteral(" 41h"), QStringLiteral(" 42h")});
    receiveLines({QStringLiteral("無し")});
    const QString path = dir.filePath(QStringLiteral("three.Txt"));
    prompts.fileAnswers << path;
    window->mmSaveClick();
    EXPECT_EQ(readFile(path), QStringLiteral(" 41h\r\n 42h\r\n無し\r\n").toUtf8());
    EXPECT_EQ(window->sBarPanel1->text(), path);

    QTest::mouseClick(window->btnClear, Qt::LeftButton);
    const QString empty = dir.filePath(QStringLiteral("empty.Txt"));
    prompts.fileAnswers << empty;
    window->mmSaveClick();
    EXPECT_EQ(readFile(empty), QByteArray());
}

TEST_F(MonitorTest, OpenAcceptsAnyLineEndAndShowsPath) {
    const QString lf = dir.filePath(QStringLiteral("lf.Txt"));
    const QString crlf = dir.filePath(QStringLiteral("crlf.Txt"));
    writeFile(lf, "a\nb\n");
    writeFile(crlf, "a\r\nb\r\n");
    prompts.fileAnswers << lf;
    window->mmOpenClick();
    const QString fromLf = window->memoRecv->toPlainText();
    EXPECT_EQ(window->sBarPanel1->text(), lf);
    prompts.fileAnswers << crlf;
    window->mmOpenClick();
    EXPECT_EQ(window->memoRecv->toPlainText(), fromLf);
    EXPECT_EQ(window->monitorLineCount(), 2);
    receiveLines({QStringLiteral("c")});
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral("a\nb\nc\n"));
}

// Blank lines at the end of a file are lines like any other: new lines go after them, and
// the count and the saved file keep them.
TEST_F(MonitorTest, BlankLastLinesOfAnOpenedFileSurviveNewLines) {
    const struct {
        QByteArray file;
        int lines;
        QByteArray saved;
    } cases[] = {
        {"a\r\n\r\n", 2, "a\r\n\r\nx\r\n"},
        {"\r\n", 1, "\r\nx\r\n"},
        {"a\r\n", 1, "a\r\nx\r\n"},
        {"a", 1, "a\r\nx\r\n"},
        {"", 0, "x\r\n"},
        // No-break spaces and line or paragraph separators stay the characters they are.
        {"a\xC2\xA0" "b\xE2\x80\xA8" "c\xE2\x80\xA9" "d\r\n", 2,
         "a\xC2\xA0" "b\xE2\x80\xA8" "c\xE2\x80\xA9" "d\r\nx\r\n"},
    };
    for (const auto& c : cases) {
        const QString in = dir.filePath(QStringLiteral("in.Txt"));
        const QString out = dir.filePath(QStringLiteral("out.Txt"));
        writeFile(in, c.file);
        prompts.fileAnswers << in;
        window->mmOpenClick();
        EXPECT_EQ(window->monitorLineCount(), c.lines) << c.file.constData();
        receiveLines({QStringLiteral("x")});
        EXPECT_EQ(window->monitorLineCount(), c.lines + 1) << c.file.constData();
        prompts.fileAnswers << out;
        window->mmSaveClick();
        EXPECT_EQ(readFile(out), c.saved) << c.file.constData();
    }
}

TEST_F(MonitorTest, OpenProposesLastSavedAndSaveProposesLastOpened) {
    const QString a = dir.filePath(QStringLiteral("A.Txt"));
    const QString b = dir.filePath(QStringLiteral("B.Txt"));
    writeFile(a, "x\r\n");
    prompts.fileAnswers << a << b << b << QString() << QString();
    window->mmOpenClick();  // opens A
    window->mmSaveClick();  // proposes A, saves B
    window->mmSaveClick();  // proposes A again, not B
    window->mmOpenClick();  // proposes B; cancelled, yet it now holds B
    window->mmSaveClick();  // so Save As proposes B; cancelled
    ASSERT_EQ(prompts.fileChoices.size(), 5u);
    EXPECT_EQ(prompts.fileChoices[0].proposedName, QString());
    EXPECT_EQ(prompts.fileChoices[1].proposedName, a);
    EXPECT_EQ(prompts.fileChoices[2].proposedName, a);
    EXPECT_EQ(prompts.fileChoices[3].proposedName, b);
    EXPECT_EQ(prompts.fileChoices[4].proposedName, b);
    EXPECT_EQ(prompts.fileChoices[0].defaultSuffix, QStringLiteral("Txt"));
    EXPECT_EQ(prompts.fileChoices[0].filters, (QStringList{QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ (*.Txt)"),
                                                           QStringLiteral("全てのﾌｧｲﾙ (*.*)")}));
    EXPECT_EQ(window->sBarPanel1->text(), b) << "a cancelled dialog changes nothing";
}

TEST_F(MonitorTest, UnreadableOrUnwritableFilesLeaveMonitorAndPathAlone) {
    receiveLines({QStringLiteral("keep")});
    window->sBarPanel1->setText(QStringLiteral("before"));
    prompts.fileAnswers << dir.filePath(QStringLiteral("missing.Txt"));
    window->mmOpenClick();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::Error);
    // Root writes anywhere, so a regular file as the parent folder is what fails.
    writeFile(dir.filePath(QStringLiteral("plain")), "x");
    prompts.fileAnswers << dir.filePath(QStringLiteral("plain/out.Txt"));
    window->mmSaveClick();
    EXPECT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral("keep\n"));
    EXPECT_EQ(window->sBarPanel1->text(), QStringLiteral("before"));
}

TEST_F(MonitorTest, FontDialogSetsSizePanelMonitorFontAndColour) {
    const QString before = window->pnlFont->text();
    std::optional<MonitorFont> offered;
    window->setFontChooser([&](const MonitorFont& current) -> std::optional<MonitorFont> {
        offered = current;
        return std::nullopt;
    });
    window->pnlFontDblClick();
    EXPECT_EQ(window->pnlFont->text(), before);
    ASSERT_TRUE(offered);
    EXPECT_EQ(offered->font, window->memoRecv->font());
    EXPECT_EQ(offered->colour, window->memoRecv->palette().color(QPalette::Text));

    QFont chosen(QStringLiteral("IPAGothic"));
    chosen.setPointSize(12);
    window->setFontChooser([&](const MonitorFont&) { return MonitorFont{chosen, Qt::darkBlue}; });
    window->pnlFontDblClick();
    EXPECT_EQ(window->pnlFont->text(), QStringLiteral("Size:12"));
    EXPECT_EQ(window->memoRecv->font().pointSize(), 12);
    EXPECT_EQ(window->memoRecv->palette().color(QPalette::Text), QColor(Qt::darkBlue));

    // The next dialog starts from what was chosen.
    window->setFontChooser([&](const MonitorFont& current) -> std::optional<MonitorFont> {
        offered = current;
        return std::nullopt;
    });
    window->pnlFontDblClick();
    EXPECT_EQ(offered->colour, QColor(Qt::darkBlue));
}

// The real dialog: it opens on the face the monitor really uses, the colour list sits in its
// effects group and starts at the current colour (one outside the sixteen is added as
// "Custom"), the sample shows the colour chosen, and the choice comes back with the font.
TEST_F(MonitorTest, FontDialogCarriesAColourList) {
    const QFont font = window->memoRecv->font();
    for (const QColor start : {QColor(128, 0, 0), QColor(1, 2, 3)}) {
        std::unique_ptr<QFontDialog> dialog(buildMonitorFontDialog({font, start}, window.get()));
        EXPECT_EQ(dialog->currentFont().family(), QFontInfo(font).family());
        auto* colours = dialog->findChild<QComboBox*>(QStringLiteral("cmbFontColour"));
        ASSERT_NE(colours, nullptr);
        auto* group = qobject_cast<QGroupBox*>(colours->parentWidget());
        ASSERT_NE(group, nullptr) << "in the effects group";
        EXPECT_FALSE(group->findChildren<QCheckBox*>().isEmpty());
        EXPECT_FALSE(colours->accessibleName().isEmpty());
        EXPECT_EQ(chosenMonitorFont(*dialog).colour, start);
        EXPECT_EQ(colours->count(), start == QColor(1, 2, 3) ? 17 : 16);
        colours->setCurrentIndex(colours->findText(QStringLiteral("Navy")));
        EXPECT_EQ(chosenMonitorFont(*dialog).colour, QColor(0, 0, 128));
        bool sampleFollows = false;
        for (const QLineEdit* e : dialog->findChildren<QLineEdit*>())
            sampleFollows |= e->palette().color(QPalette::Text) == QColor(0, 0, 128);
        EXPECT_TRUE(sampleFollows);
    }
}

}  // namespace
