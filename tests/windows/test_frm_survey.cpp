// SPDX-License-Identifier: MIT
// The survey window on a main window: opening, runs timed by the clock tick, key frames counted
// with and without Key Change, closing and stopping early, the grid pane, and key frames of
// several transmitters arriving over a pty.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "session/event_wait.h"
#include "core/unit_render.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

// A key frame as a transmitter sends it through the module: header with MsgID 0x13, the
// transmitter's ID as SrcID, maker code 83 41 00 00, the key and its complement.
std::vector<std::uint8_t> keyFrameBytes(std::uint32_t transmitter, std::uint8_t key,
                                        std::uint8_t seq = 0) {
    return {0x0F,
            0x5A,
            0x13,
            0x13,
            seq,
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            static_cast<std::uint8_t>(transmitter >> 24),
            static_cast<std::uint8_t>(transmitter >> 16),
            static_cast<std::uint8_t>(transmitter >> 8),
            static_cast<std::uint8_t>(transmitter),
            0x83,
            0x41,
            0x00,
            0x00,
            key,
            static_cast<std::uint8_t>(key ^ 0xFF)};
}

QString keyFrame(std::uint32_t transmitter, std::uint8_t key) {
    return renderHex(keyFrameBytes(transmitter, key));
}

class SurveyTest : public MainWindowTest {
protected:
    void open() {
        start();
        window->show();
        window->mmSurvey->trigger();
        ASSERT_TRUE(survey->isVisible());
    }
    void startRun(const QString& seconds = QStringLiteral("10")) {
        survey->edtTout->setText(seconds);
        QTest::mouseClick(survey->btnStart, Qt::LeftButton);
    }
    void key(std::uint32_t transmitter, std::uint8_t k) {
        survey->keyFrameReceived(keyFrame(transmitter, k));
    }
    [[nodiscard]] std::vector<QString> counters() const {
        std::vector<QString> texts;
        for (const QLabel* p : survey->pnlKct) texts.push_back(p->text());
        return texts;
    }
    [[nodiscard]] QString cell(int row, int column) const {
        return survey->sGrid->item(row - 1, column)->text();
    }
    // Columns 1 and 2 of the first rows.
    [[nodiscard]] std::vector<QString> rows(int count) const {
        std::vector<QString> texts;
        for (int r = 1; r <= count; ++r)
            texts.push_back(cell(r, 1) + QLatin1Char('|') + cell(r, 2));
        return texts;
    }
    [[nodiscard]] std::vector<QString> emptyRows(int count) const {
        return std::vector<QString>(static_cast<size_t>(count), QStringLiteral("|"));
    }
    [[nodiscard]] int clientWidth() const { return survey->width(); }
};

const std::vector<QString> kNoCounters{"", "", "", ""};

TEST_F(SurveyTest, SurveyPanelEntryOpensIdleWindowLaidOutAndCentred) {
    open();
    EXPECT_EQ(survey->windowTitle(), QStringLiteral("Kappo Survey"));
    EXPECT_TRUE(survey->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(survey->wantsKeyFrames());
    EXPECT_EQ(survey->btnStart->text(), QStringLiteral("Start"));
    EXPECT_TRUE(survey->btnStart->isCheckable());
    EXPECT_FALSE(survey->btnStart->isChecked());
    EXPECT_FALSE(survey->prgBar->isVisible());
    EXPECT_FALSE(survey->sGrid->isVisible());
    EXPECT_EQ(survey->edtTout->text(), QStringLiteral("10"));
    EXPECT_EQ(survey->Label1->text(), QStringLiteral("秒"));
    EXPECT_EQ(survey->ckKeyChange->text(), QStringLiteral("Key Change Enabled"));
    EXPECT_FALSE(survey->ckKeyChange->isChecked());
    EXPECT_EQ(survey->btnClose->text(), QStringLiteral("Close"));
    EXPECT_EQ(counters(), kNoCounters);

    EXPECT_EQ(survey->size(),
              QSize(600, survey->btnStart->height() + survey->sBar->height() + 584));
    EXPECT_EQ(survey->pnlTop->width(), 600);
    for (int i = 0; i < 4; ++i) {
        const QLabel* k = survey->pnlKey[static_cast<size_t>(i)];
        EXPECT_EQ(k->text(), QStringLiteral("  Key No.%1").arg(i + 1));
        EXPECT_EQ(k->font().family(), QStringLiteral("Impact"));
        EXPECT_EQ(k->font().pointSize(), 48);
        EXPECT_EQ(k->geometry().top(), 16 + i * 138) << i;
        EXPECT_EQ(k->height(), 130);
        const QLabel* c = survey->pnlKct[static_cast<size_t>(i)];
        EXPECT_EQ(c->font().pointSize(), 48);
        EXPECT_GE(c->geometry().left(), k->width() / 2 - 8) << "counter in the right half";
        EXPECT_GE(c->width(), k->width() / 2 - 16);
    }
    for (const QLabel* p : {survey->sBarPanel0, survey->sBarPanel1}) EXPECT_EQ(p->width(), 50);

    // Centred on the main window, but not above the top of the screen.
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = survey->frameGeometry();
    const QPoint mainCentre = window->frameGeometry().center();
    EXPECT_LE(std::abs(frame.center().x() - mainCentre.x()), 1);
    const int centredTop = mainCentre.y() - frame.height() / 2;
    EXPECT_LE(std::abs(frame.top() - std::max(area.top(), centredTop)), 1);

    // The grid as the first show sets it up, hidden until the status bar asks for it.
    const QTableWidget* g = survey->sGrid;
    EXPECT_EQ(g->rowCount(), 100);
    EXPECT_EQ(g->columnCount(), 4);
    const QStringList headers{"No", "DeviceID", "Key", "Comments"};
    const std::vector<int> widths{24, 200, 40, 300};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(g->horizontalHeaderItem(c)->text(), headers[c]);
        EXPECT_EQ(g->columnWidth(c), widths[static_cast<size_t>(c)]);
    }
    EXPECT_EQ(cell(1, 0), QStringLiteral("  1"));
    EXPECT_EQ(cell(42, 0), QStringLiteral(" 42"));
    EXPECT_EQ(cell(100, 0), QStringLiteral("100"));
    EXPECT_EQ(g->rowHeight(0), 20);
    EXPECT_EQ(g->currentRow(), 0);
    EXPECT_EQ(g->currentColumn(), 1);
}

TEST_F(SurveyTest, EveryControlIsNamedAndCaptionlessOnesAreAccessible) {
    open();
    const QStringList names{"pnlTop",  "sGrid",       "sBar",       "pnlKey1",   "pnlKey2",
                            "pnlKey3", "pnlKey4",     "pnlKct1",    "pnlKct2",   "pnlKct3",
                            "pnlKct4", "btnClose",    "prgBar",     "btnStart",  "edtTout",
                            "Label1",  "ckKeyChange", "sBarPanel0", "sBarPanel1"};
    for (const QString& n : names)
        EXPECT_NE(survey->findChild<QWidget*>(n), nullptr) << n.toStdString();
    for (QWidget* w : std::initializer_list<QWidget*>{
             survey->pnlKct[0], survey->pnlKct[3], survey->prgBar, survey->edtTout, survey->sGrid,
             survey->sBarPanel0, survey->sBarPanel1})
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    // Enter in the run-time box presses nothing.
    EXPECT_FALSE(survey->btnStart->autoDefault());
    EXPECT_FALSE(survey->btnClose->autoDefault());
}

TEST_F(SurveyTest, StartClearsMonitorGridCountersAndStatus) {
    open();
    startRun();
    key(0x12345678, 2);
    survey->btnStart->click();  // ends the run, keeping what it counted
    window->appendLines({QStringLiteral("a line"), QStringLiteral("another")});
    window->flush();
    ASSERT_FALSE(window->memoRecv->toPlainText().isEmpty());
    ASSERT_EQ(counters(), (std::vector<QString>{"0", "1", "0", "0"}));

    startRun(QStringLiteral("3"));
    EXPECT_TRUE(survey->btnStart->isChecked());
    EXPECT_EQ(survey->btnStart->text(), QStringLiteral("Busy"));
    EXPECT_TRUE(window->memoRecv->toPlainText().isEmpty());
    EXPECT_EQ(rows(2), emptyRows(2));
    EXPECT_EQ(counters(), kNoCounters);
    EXPECT_EQ(survey->sBarPanel1->text(), QString());
    EXPECT_TRUE(survey->prgBar->isVisible());
    EXPECT_EQ(survey->prgBar->value(), 0);
    EXPECT_EQ(survey->prgBar->maximum(), 6);
    EXPECT_EQ(survey->tally().count(2), 0);
}

TEST_F(SurveyTest, FiveSecondRunAdvancesTenStepsAndEndsOnEleventhTickWithOneChime) {
    open();
    startRun(QStringLiteral("5"));
    ASSERT_EQ(survey->prgBar->maximum(), 10);
    for (int tick = 1; tick <= 10; ++tick) {
        // The main window's clock drives the run.
        window->tmClockTimer();
        EXPECT_EQ(survey->prgBar->value(), tick);
        EXPECT_TRUE(survey->btnStart->isChecked()) << tick;
    }
    EXPECT_TRUE(sound.played.isEmpty());
    window->tmClockTimer();
    EXPECT_FALSE(survey->btnStart->isChecked());
    EXPECT_EQ(survey->btnStart->text(), QStringLiteral("Start"));
    EXPECT_EQ(sound.played, QStringList{QStringLiteral("chimes.wav")});
    EXPECT_TRUE(survey->prgBar->isVisible()) << "the full bar stays for the user to see";

    for (int tick = 0; tick < 5; ++tick) window->tmClockTimer();
    EXPECT_EQ(sound.played.size(), 1);
    EXPECT_EQ(survey->prgBar->value(), 10);

    // The real timer reaches the survey too.
    startRun(QStringLiteral("0"));
    window->tmClock->setInterval(5);
    ASSERT_TRUE(pumpUntil([this] { return !survey->btnStart->isChecked(); }, ticks, 3000));
    EXPECT_EQ(sound.played.size(), 2);
    // The fixture drops the survey before the main window, whose closing port pumps events:
    // a fast clock must not tick into it then.
    window->tmClock->stop();
}

TEST_F(SurveyTest, OddRunTimes) {
    open();
    struct Case {
        const char* text;
        int ticksBeforeEnd;  // ticks that advance the bar
    };
    // "-3" counts as no time at all; text that is no number gives the 10-second default.
    for (const Case& c :
         {Case{"0", 0}, Case{"-3", 0}, Case{"abc", 20}, Case{"", 20}, Case{"1", 2}}) {
        sound.played.clear();
        startRun(QString::fromLatin1(c.text));
        for (int t = 0; t < c.ticksBeforeEnd; ++t) survey->clockTick();
        EXPECT_TRUE(survey->btnStart->isChecked()) << c.text;
        EXPECT_TRUE(sound.played.isEmpty()) << c.text;
        survey->clockTick();
        EXPECT_FALSE(survey->btnStart->isChecked()) << c.text;
        EXPECT_EQ(sound.played.size(), 1) << c.text;
        EXPECT_EQ(survey->btnStart->text(), QStringLiteral("Start"));
    }

    // A run time beyond what the bar can count is held to the bar's range and still runs.
    startRun(QStringLiteral("2000000000"));
    EXPECT_EQ(survey->prgBar->maximum(), std::numeric_limits<int>::max());
    for (int t = 0; t < 3; ++t) survey->clockTick();
    EXPECT_TRUE(survey->btnStart->isChecked());
    EXPECT_EQ(survey->prgBar->value(), 3);
}

TEST_F(SurveyTest, KeyFramesWithoutKeyChangeCountEachTransmitterOnceWithItsFirstKey) {
    open();
    key(0x01020304, 1);
    EXPECT_EQ(rows(1), emptyRows(1)) << "no run, no count";
    EXPECT_EQ(survey->sBarPanel1->text(), QString());

    startRun();
    key(0x12345678, 2);
    EXPECT_EQ(survey->sBarPanel1->text(), QStringLiteral("83h 41h"));
    EXPECT_EQ(counters(), (std::vector<QString>{"0", "1", "0", "0"}));
    key(0xAABBCCDD, 1);
    key(0x12345678, 3);  // a transmitter counts once, with its first key
    key(0x00000001, 3);
    key(0xFFFFFFFE, 4);
    key(0x00000002, 4);
    EXPECT_EQ(rows(6), (std::vector<QString>{"12h 34h 56h 78h|02", "AAh BBh CCh DDh|01",
                                             "00h 00h 00h 01h|03", "FFh FFh FFh FEh|04",
                                             "00h 00h 00h 02h|04", "|"}));
    EXPECT_EQ(counters(), (std::vector<QString>{"1", "1", "1", "2"}));
    EXPECT_EQ(cell(1, 3), QString()) << "Comments stay empty";

    // Keys other than 1 to 4 show the maker code but count nothing; so do the keys 0A and 10,
    // whose hex digits are no decimal 1 to 4.
    for (std::uint8_t k : {0x00, 0x05, 0x0A, 0x10, 0x14}) {
        survey->sBarPanel1->setText({});
        key(0x77777777, k);
        EXPECT_EQ(survey->sBarPanel1->text(), QStringLiteral("83h 41h")) << int(k);
    }
    EXPECT_EQ(cell(6, 1), QString());
    EXPECT_EQ(counters(), (std::vector<QString>{"1", "1", "1", "2"}));

    // Another maker's frame, and units too short to hold a key, leave everything alone.
    survey->sBarPanel1->setText(QStringLiteral("x"));
    std::vector<std::uint8_t> other = keyFrameBytes(0x77777777, 1);
    other[14] = 0x42;
    survey->keyFrameReceived(renderHex(other));
    const std::vector<std::uint8_t> full = keyFrameBytes(0x77777777, 1);
    for (std::size_t n : {0u, 4u, 10u, 15u, 18u})
        survey->keyFrameReceived(renderHex({full.data(), n}));
    survey->keyFrameReceived(renderHex(full).left(75));
    EXPECT_EQ(survey->sBarPanel1->text(), QStringLiteral("x"));
    EXPECT_EQ(cell(6, 1), QString());
}

TEST_F(SurveyTest, KeyFramesWithKeyChangeMoveATransmitterToItsLatestKey) {
    open();
    survey->ckKeyChange->setChecked(true);
    startRun();
    key(0x12345678, 2);
    key(0x12345678, 3);
    EXPECT_EQ(rows(2), (std::vector<QString>{"12h 34h 56h 78h|03", "|"}));
    EXPECT_EQ(counters(), (std::vector<QString>{"0", "0", "1", "0"}));
    key(0x0000ABCD, 1);
    key(0x0000ABCE, 4);
    key(0x12345678, 4);
    key(0x0000ABCD, 1);  // the same key again changes nothing
    key(0x0000ABCE, 2);
    EXPECT_EQ(rows(4), (std::vector<QString>{"12h 34h 56h 78h|04", "00h 00h ABh CDh|01",
                                             "00h 00h ABh CEh|02", "|"}));
    EXPECT_EQ(counters(), (std::vector<QString>{"1", "1", "0", "1"}));

    // Switching the mode off mid-run keeps the rows; repeats are then ignored.
    survey->ckKeyChange->setChecked(false);
    key(0x12345678, 1);
    EXPECT_EQ(cell(1, 2), QStringLiteral("04"));
    EXPECT_EQ(counters(), (std::vector<QString>{"1", "1", "0", "1"}));
}

TEST_F(SurveyTest, FramesReachTheSurveyOnlyWhileShownAndRunning) {
    start();
    window->show();
    const auto feed = [this](std::uint32_t transmitter, std::uint8_t k) {
        const std::vector<std::uint8_t> f = keyFrameBytes(transmitter, k);
        window->receivePipeline().received(f, ticks.now());
    };
    feed(0x11111111, 1);  // never shown: not even the status bar
    window->mmSurvey->trigger();
    feed(0x11111111, 1);  // shown but idle
    EXPECT_EQ(survey->sBarPanel1->text(), QString());
    startRun();
    feed(0x11111111, 1);
    feed(0x22222222, 2);
    EXPECT_EQ(rows(2), (std::vector<QString>{"11h 11h 11h 11h|01", "22h 22h 22h 22h|02"}));

    // The key panel, while open, takes key frames first.
    rem->show();
    feed(0x33333333, 3);
    rem->hide();
    feed(0x44444444, 4);
    EXPECT_EQ(rows(3), (std::vector<QString>{"11h 11h 11h 11h|01", "22h 22h 22h 22h|02",
                                             "44h 44h 44h 44h|04"}));
    EXPECT_EQ(counters(), (std::vector<QString>{"1", "1", "0", "1"}));
}

TEST_F(SurveyTest, ClosingDuringRunStopsWithoutChimeAndReopeningClearsOnlyTheGrid) {
    open();
    startRun(QStringLiteral("1"));
    key(0x12345678, 2);
    key(0x9ABCDEF0, 4);
    survey->clockTick();
    survey->btnClose->click();
    EXPECT_FALSE(survey->isVisible());
    EXPECT_FALSE(survey->wantsKeyFrames());
    EXPECT_FALSE(survey->btnStart->isChecked());
    EXPECT_EQ(survey->btnStart->text(), QStringLiteral("Start"));
    EXPECT_TRUE(survey->prgBar->isHidden());
    for (int t = 0; t < 5; ++t) window->tmClockTimer();
    EXPECT_TRUE(sound.played.isEmpty());

    window->mmSurvey->trigger();
    EXPECT_EQ(rows(2), emptyRows(2));
    EXPECT_EQ(counters(), (std::vector<QString>{"0", "1", "0", "1"}));
    EXPECT_FALSE(survey->prgBar->isVisible());
    EXPECT_TRUE(survey->wantsKeyFrames());

    // Escape does not close it: a stray key must not end a run.
    startRun();
    QTest::keyClick(survey.get(), Qt::Key_Escape);
    EXPECT_TRUE(survey->isVisible());
    EXPECT_TRUE(survey->btnStart->isChecked());
    EXPECT_TRUE(survey->wantsKeyFrames());
}

TEST_F(SurveyTest, ClickDuringRunEndsItEarlyAndKeepsTheCounts) {
    open();
    startRun();
    key(0x12345678, 2);
    key(0x9ABCDEF0, 3);
    survey->clockTick();
    survey->clockTick();
    window->appendLines({QStringLiteral("kept")});
    window->flush();

    QTest::mouseClick(survey->btnStart, Qt::LeftButton);
    EXPECT_FALSE(survey->btnStart->isChecked());
    EXPECT_EQ(survey->btnStart->text(), QStringLiteral("Start"));
    EXPECT_EQ(rows(3), (std::vector<QString>{"12h 34h 56h 78h|02", "9Ah BCh DEh F0h|03", "|"}));
    EXPECT_EQ(counters(), (std::vector<QString>{"0", "1", "1", "0"}));
    EXPECT_EQ(survey->prgBar->value(), 2);
    EXPECT_TRUE(survey->prgBar->isVisible());
    EXPECT_FALSE(window->memoRecv->toPlainText().isEmpty());

    for (int t = 0; t < 30; ++t) survey->clockTick();
    key(0x11111111, 1);
    EXPECT_TRUE(sound.played.isEmpty());
    EXPECT_EQ(counters(), (std::vector<QString>{"0", "1", "1", "0"}));
    EXPECT_EQ(survey->prgBar->value(), 2);

    // The next click starts a fresh run.
    QTest::mouseClick(survey->btnStart, Qt::LeftButton);
    EXPECT_TRUE(survey->btnStart->isChecked());
    EXPECT_EQ(survey->btnStart->text(), QStringLiteral("Busy"));
    EXPECT_EQ(counters(), kNoCounters);
    EXPECT_EQ(rows(1), emptyRows(1));
}

TEST_F(SurveyTest, StatusBarDoubleClickTogglesGridPaneAndRecentres) {
    open();
    const QRect screen = survey->screen()->geometry();
    const auto expectCentred = [&] {
        EXPECT_EQ(survey->frameGeometry().left(),
                  screen.x() + (screen.width() - survey->frameGeometry().width()) / 2);
    };
    const int top = survey->frameGeometry().top();

    QTest::mouseDClick(survey->sBar, Qt::LeftButton);
    EXPECT_TRUE(survey->sGrid->isVisible());
    EXPECT_EQ(clientWidth(), 600 + 288);
    EXPECT_EQ(survey->sGrid->width(), 288);
    expectCentred();
    EXPECT_EQ(survey->frameGeometry().top(), top);
    QApplication::processEvents();
    EXPECT_EQ(survey->pnlTop->width(), 600);
    EXPECT_EQ(survey->sGrid->geometry().right(), survey->width() - 1) << "on the right edge";

    QTest::mouseDClick(survey->sBarPanel1, Qt::LeftButton);
    EXPECT_FALSE(survey->sGrid->isVisible());
    EXPECT_EQ(clientWidth(), 600);
    expectCentred();

    // A column the user widened widens the pane the next time.
    survey->sGrid->setColumnWidth(1, 250);
    QTest::mouseDClick(survey->sBarPanel0, Qt::LeftButton);
    EXPECT_EQ(clientWidth(), 600 + 338);
    EXPECT_EQ(survey->sGrid->width(), 338);
    QApplication::processEvents();
    EXPECT_EQ(survey->pnlTop->width(), 600);
}

// Key frames of several transmitters written at the far end of a pty fill the survey.
class SurveyPtyTest : public SurveyTest {
protected:
    void SetUp() override { startOnPty(); }
};

TEST_F(SurveyPtyTest, KeyFramesOverTheLineFillGridAndCounters) {
    window->show();
    window->mmSurvey->trigger();
    survey->edtTout->setText(QStringLiteral("30"));
    survey->btnStart->click();
    ASSERT_TRUE(survey->btnStart->isChecked());

    // Eight transmitters, two per key, the first one sending twice; written in one burst.
    std::vector<std::uint8_t> burst;
    for (std::uint32_t n = 0; n < 8; ++n) {
        const auto f = keyFrameBytes(0xC0DE0000 + n, static_cast<std::uint8_t>(n % 4 + 1),
                                     static_cast<std::uint8_t>(n));
        burst.insert(burst.end(), f.begin(), f.end());
    }
    const auto again = keyFrameBytes(0xC0DE0000, 3, 8);
    burst.insert(burst.end(), again.begin(), again.end());
    ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), burst));

    ASSERT_TRUE(pumpUntil([this] { return window->monitorLineCount() == 9; }, ticks, 3000))
        << window->memoRecv->toPlainText().toStdString();
    EXPECT_TRUE(survey->btnStart->isChecked());
    for (std::uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(cell(static_cast<int>(n) + 1, 1), QStringLiteral("C0h DEh 00h 0%1h").arg(n));
        EXPECT_EQ(cell(static_cast<int>(n) + 1, 2), QStringLiteral("0%1").arg(n % 4 + 1));
    }
    EXPECT_EQ(cell(9, 1), QString());
    EXPECT_EQ(counters(), (std::vector<QString>{"2", "2", "2", "2"}));
    EXPECT_EQ(survey->sBarPanel1->text(), QStringLiteral("83h 41h"));
}

}  // namespace
