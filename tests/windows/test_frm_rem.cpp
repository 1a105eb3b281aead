// SPDX-License-Identifier: MIT
// The key panel window offscreen: layout per key count, key presses on the line, the options,
// received key frames lighting lamps with their sounds and focus, the check run's pause, and
// key frames arriving over a pty.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <vector>

#include "session/event_wait.h"
#include "core/unit_render.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "core/key_layout.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);
const QColor kBlue(0, 0, 255);

QByteArray keyUnit(int key, int complement, const char* maker = "83410000") {
    QByteArray u = QByteArray::fromHex("0F5A1313 00 FFFFFFFF 12345678");
    u += QByteArray::fromHex(maker);
    u += char(key);
    u += char(complement);
    return u;
}

QString rendered(const QByteArray& unit) {
    return renderHex({reinterpret_cast<const std::uint8_t*>(unit.constData()),
                      static_cast<std::size_t>(unit.size())});
}

QString keyFrame(int key, const char* maker = "83410000") {
    return rendered(keyUnit(key, key ^ 0xFF, maker));
}

// What the panel sends ahead of a key's payload.
QByteArray keyHeader(std::uint8_t seq) {
    return QByteArray::fromHex("0F5A1313") + char(seq) + QByteArray(8, char(0xFF));
}

class FrmRemTest : public MainWindowTest {
protected:
    void SetUp() override {
        start();
        ASSERT_TRUE(context->port.isOpen());
    }
    void choose(int keys) {
        const QString name = QStringLiteral("mmKp%1").arg(keys, 2, 10, QLatin1Char('0'));
        QAction* entry = window->findChild<QAction*>(name);
        ASSERT_NE(entry, nullptr) << name.toStdString();
        entry->trigger();
    }
    // Everything written since the last call, one entry per write.
    std::vector<QByteArray> takeWrites() {
        std::vector<QByteArray> w(serial.writes.begin() + static_cast<long>(m_seen),
                                  serial.writes.end());
        m_seen = serial.writes.size();
        return w;
    }
    void receive(const QString& text) { rem->keyFrameReceived(text); }

    // The panel's controls, found by name as the rest of the program finds them.
    QPushButton* button(int key) const { return rem->findChild<QPushButton*>(keyButtonName(key)); }
    QFrame* lamp(int key) const { return rem->findChild<QFrame*>(keyLampName(key)); }
    QColor colour(int key) const { return lamp(key)->palette().color(QPalette::Window); }
    QColor normal() const { return rem->palette().color(QPalette::Button); }
    QColor background() const { return rem->pnlKey->palette().color(QPalette::Window); }
    QString status() const { return rem->sBarPanel1->text(); }
    QWidget* focused() const { return rem->focusWidget(); }

    std::size_t m_seen = 0;
};

// -- Window and layout ------------------------------------------------------------------------

TEST_F(FrmRemTest, CreatedHiddenWithTheDesignedControls) {
    EXPECT_FALSE(rem->isVisible());
    EXPECT_FALSE(rem->wantsKeyFrames());
    EXPECT_EQ(rem->windowTitle(), QStringLiteral("Remocon Panel"));
    EXPECT_TRUE(rem->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(rem->font().pixelSize(), 12);
    EXPECT_TRUE(rem->font().families().contains(QStringLiteral("ＭＳ Ｐゴシック")));

    for (int key = 1; key <= kMaxKeys; ++key) {
        SCOPED_TRACE(key);
        ASSERT_NE(button(key), nullptr);
        ASSERT_NE(lamp(key), nullptr);
        EXPECT_EQ(button(key)->text(), QString::number(key));
        EXPECT_EQ(button(key)->property("Tag").toInt(), key - 1);
        EXPECT_EQ(button(key)->size(), QSize(60, 25));
        EXPECT_EQ(lamp(key)->size(), QSize(13, 13));
        EXPECT_EQ(colour(key), normal());
        EXPECT_FALSE(lamp(key)->accessibleName().isEmpty());
    }

    const struct {
        const char* name;
        QString caption;
        QPoint pos;
    } controls[] = {
        {"btnClear", QStringLiteral("Clear"), {4, 4}},
        {"ckOnColorPanel", QStringLiteral("On ColorPanel"), {84, 4}},
        {"ckSetJudge", QStringLiteral("Set Check"), {204, 4}},
        {"ckSound", QStringLiteral("Sound"), {84, 24}},
        {"ckAutoFocus", QStringLiteral("Auto Focus"), {204, 24}},
        {"ckJudge", QStringLiteral("Check"), {84, 44}},
    };
    for (const auto& c : controls) {
        auto* b = rem->pnlClear->findChild<QAbstractButton*>(QString::fromLatin1(c.name));
        ASSERT_NE(b, nullptr) << c.name;
        EXPECT_EQ(b->text(), c.caption);
        EXPECT_EQ(b->pos(), c.pos) << c.name;
        EXPECT_FALSE(b->isChecked()) << c.name;
    }
    EXPECT_EQ(rem->btnClear->size(), QSize(75, 61));
    // The check boxes of one column must not reach into the next.
    EXPECT_LE(rem->ckOnColorPanel->geometry().right(), 203);
    EXPECT_LE(rem->ckJudge->geometry().right(), 139);
    EXPECT_EQ(rem->edtMakerCode->pos(), QPoint(140, 44));
    EXPECT_EQ(rem->edtMakerCode->text(), QString());
    EXPECT_FALSE(rem->edtMakerCode->accessibleName().isEmpty());
    EXPECT_EQ(rem->pnlClear->height(), 72);
    EXPECT_EQ(rem->sBarPanel0->width(), 50);
    EXPECT_EQ(rem->sBarPanel1->text(), QString());
}

TEST_F(FrmRemTest, Kp18FromTheMenuLaysOutEighteenKeys) {
    choose(18);
    ASSERT_TRUE(rem->isVisible());
    EXPECT_TRUE(rem->wantsKeyFrames());
    EXPECT_EQ(rem->keyCount(), 18);
    // Three columns with a margin of 72; rows 35 pixels apart from the top edge 20.
    EXPECT_EQ(button(1)->geometry(), QRect(72, 20, 60, 25));
    EXPECT_EQ(button(3)->geometry(), QRect(200, 20, 60, 25));
    EXPECT_EQ(button(4)->geometry(), QRect(72, 55, 60, 25));
    EXPECT_EQ(button(18)->geometry(), QRect(200, 195, 60, 25));
    EXPECT_EQ(lamp(1)->geometry(), QRect(78, 26, 13, 13));
    EXPECT_EQ(lamp(18)->geometry(), QRect(206, 201, 13, 13));
    for (int key = 1; key <= kMaxKeys; ++key) {
        SCOPED_TRACE(key);
        EXPECT_EQ(button(key)->isVisible(), key <= 18);
        EXPECT_EQ(lamp(key)->isVisible(), key <= 18);
    }
    EXPECT_EQ(rem->size(), QSize(336, 333));
    EXPECT_EQ(rem->pnlKey->geometry(), QRect(0, 0, 336, 242));
    EXPECT_EQ(rem->pnlClear->geometry(), QRect(0, 242, 336, 72));
    EXPECT_EQ(rem->sBar->geometry(), QRect(0, 314, 336, 19));
    EXPECT_EQ(rem->edtMakerCode->geometry().topLeft(), QPoint(140, 44));
    EXPECT_EQ(rem->edtMakerCode->width(), 186);
    // Fixed dialog border: the size cannot be changed.
    EXPECT_EQ(rem->minimumSize(), rem->maximumSize());
    EXPECT_LE((rem->frameGeometry().center() - window->frameGeometry().center()).manhattanLength(),
              1);
    // Escape does not close the panel: the judging goes on.
    QTest::keyClick(rem.get(), Qt::Key_Escape);
    EXPECT_TRUE(rem->isVisible());
    EXPECT_TRUE(rem->wantsKeyFrames());
    // Centred again at every showing.
    rem->move(0, 0);
    rem->close();
    window->move(120, 60);
    choose(4);
    EXPECT_LE((rem->frameGeometry().center() - window->frameGeometry().center()).manhattanLength(),
              1);
}

TEST_F(FrmRemTest, EveryKeyCountGetsItsWindowSize) {
    const struct {
        int keys;
        QSize client;
        QPoint first;
        QPoint last;
    } cases[] = {
        {2, {336, 193}, {136, 20}, {136, 55}},  {4, {336, 263}, {136, 20}, {136, 125}},
        {8, {400, 263}, {136, 20}, {200, 125}}, {18, {336, 333}, {72, 20}, {200, 195}},
        {27, {336, 438}, {72, 20}, {200, 300}}, {32, {336, 403}, {40, 20}, {232, 265}},
        {48, {336, 543}, {40, 20}, {232, 405}}, {70, {336, 613}, {8, 20}, {264, 475}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        rem->hide();
        choose(c.keys);
        EXPECT_EQ(rem->size(), c.client);
        EXPECT_EQ(button(1)->pos(), c.first);
        EXPECT_EQ(button(c.keys)->pos(), c.last);
        EXPECT_TRUE(button(c.keys)->isVisible());
        if (c.keys < kMaxKeys) {
            EXPECT_FALSE(button(c.keys + 1)->isVisible());
        }
        // The maker code field stretches with the window.
        EXPECT_EQ(rem->edtMakerCode->geometry().right(), c.client.width() - 11);
        EXPECT_EQ(rem->sBar->geometry().bottom(), c.client.height() - 1);
    }
    EXPECT_EQ(button(5)->pos(), QPoint(264, 20));
    EXPECT_EQ(button(6)->pos(), QPoint(8, 55));

    // Another entry while the panel shows lays it out at once.
    choose(4);
    EXPECT_EQ(rem->size(), QSize(336, 263));
    EXPECT_FALSE(button(5)->isVisible());
}

TEST_F(FrmRemTest, ClosingStopsKeyFramesAndReopeningKeepsThePanelState) {
    choose(4);
    rem->ckOnColorPanel->setChecked(true);
    rem->edtMakerCode->setText(QStringLiteral("12h 34h 56h 78h"));
    receive(keyFrame(2));
    ASSERT_EQ(colour(2), kLime);
    rem->close();
    EXPECT_FALSE(rem->wantsKeyFrames());
    choose(8);
    EXPECT_TRUE(rem->wantsKeyFrames());
    EXPECT_EQ(colour(2), kLime);
    EXPECT_EQ(background(), kBlue);
    EXPECT_TRUE(rem->ckOnColorPanel->isChecked());
    EXPECT_EQ(rem->edtMakerCode->text(), QStringLiteral("12h 34h 56h 78h"));
    EXPECT_EQ(status(), QStringLiteral("83h 41h 00h 00h"));
}

TEST_F(FrmRemTest, LampsLetClicksThroughToTheirButtons) {
    choose(70);
    for (int key : {1, 37, 70}) {
        const QPoint onLamp = lamp(key)->geometry().center();
        EXPECT_EQ(rem->pnlKey->childAt(onLamp), button(key)) << key;
    }
}

// -- Sending keys -----------------------------------------------------------------------------

TEST_F(FrmRemTest, KeyPressSendsTheKeyFrameInTwoWrites) {
    choose(4);
    takeWrites();
    const std::uint8_t seq = context->sender.sequence();
    QTest::mouseClick(button(3), Qt::LeftButton);
    const std::vector<QByteArray> w = takeWrites();
    ASSERT_EQ(w.size(), 2U);
    EXPECT_EQ(w[0].toHex(' '), keyHeader(seq).toHex(' '));
    EXPECT_EQ(w[1].toHex(' '), QByteArray("83 41 00 00 03 fc"));
    EXPECT_EQ(rem->edtMakerCode->text(), QStringLiteral("83h 41h 00h 00h"));
    EXPECT_EQ(context->sender.sequence(), std::uint8_t(seq + 1));
    // Without Auto Focus the focus stays where the click put it.
    EXPECT_EQ(focused(), button(3));
}

TEST_F(FrmRemTest, MakerCodeFieldDecidesWhatIsSent) {
    choose(4);
    rem->ckAutoFocus->setChecked(true);
    takeWrites();

    // 14 characters: silently nothing, and the focus does not step either.
    rem->edtMakerCode->setText(QStringLiteral("12h 34h 56h 78"));
    button(2)->setFocus();
    button(2)->click();
    EXPECT_TRUE(takeWrites().empty());
    EXPECT_EQ(rem->edtMakerCode->text(), QStringLiteral("12h 34h 56h 78"));
    EXPECT_EQ(focused(), button(2));

    rem->edtMakerCode->setText(QStringLiteral("12h 34h 56h 78h"));
    button(2)->click();
    std::vector<QByteArray> w = takeWrites();
    ASSERT_EQ(w.size(), 2U);
    EXPECT_EQ(w[1].toHex(' '), QByteArray("12 34 56 78 02 fd"));

    rem->edtMakerCode->setText(QStringLiteral("ZZh 41h 00h 00h"));
    button(1)->click();
    w = takeWrites();
    ASSERT_EQ(w.size(), 2U);
    EXPECT_EQ(w[1].toHex(' '), QByteArray("ff 41 00 00 01 fe"));

    // Enter presses a focused key button, but Enter in the field is no key press.
    rem->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rem.get()));
    rem->ckAutoFocus->setChecked(false);
    button(4)->setFocus();
    QTest::keyClick(button(4), Qt::Key_Return);
    EXPECT_EQ(takeWrites().size(), 2U);
    rem->edtMakerCode->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(takeWrites().empty());
    // Nor on a check box: the dialog's default button would be key 1.
    QTest::mouseClick(rem->ckSound, Qt::LeftButton);
    rem->ckSound->setFocus();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
        QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_TRUE(takeWrites().empty());
}

TEST_F(FrmRemTest, AutoFocusStepsToTheNextKeyAndWraps) {
    choose(4);
    rem->ckAutoFocus->setChecked(true);
    button(2)->click();
    EXPECT_EQ(focused(), button(3));
    button(4)->click();
    EXPECT_EQ(focused(), button(1));
    button(2)->setFocus();
    rem->btnClear->click();
    EXPECT_EQ(focused(), button(1));
}

TEST_F(FrmRemTest, ClearSendsTheClearCodeAndResetsLampsAndBackground) {
    choose(4);
    rem->ckOnColorPanel->setChecked(true);
    receive(keyFrame(1));
    receive(keyFrame(2));
    ASSERT_EQ(background(), kBlue);
    takeWrites();
    rem->btnClear->click();
    const std::vector<QByteArray> w = takeWrites();
    ASSERT_EQ(w.size(), 2U);
    EXPECT_EQ(w[1].toHex(' '), QByteArray("83 41 00 00 cc 33"));
    EXPECT_EQ(colour(1), normal());
    EXPECT_EQ(colour(2), normal());
    EXPECT_EQ(background(), normal());

    // In check mode only the lime lamps go back to red; a short maker field stops the send but
    // not the reset.
    rem->ckSetJudge->setChecked(true);
    button(3)->click();  // expected: 1, 2, 4
    rem->ckJudge->setChecked(true);
    rem->edtMakerCode->setText(QStringLiteral("83h 41h 00h 00h"));
    receive(keyFrame(1));
    ASSERT_EQ(colour(1), kLime);
    rem->edtMakerCode->setText(QStringLiteral("83h"));
    takeWrites();
    rem->btnClear->click();
    EXPECT_TRUE(takeWrites().empty());
    EXPECT_EQ(colour(1), kRed);
    EXPECT_EQ(colour(2), kRed);
    EXPECT_EQ(colour(3), normal());
}

// -- Options ----------------------------------------------------------------------------------

TEST_F(FrmRemTest, SetCheckMarksLampsInsteadOfSending) {
    choose(4);
    receive(keyFrame(1));  // lime
    ASSERT_EQ(colour(1), kLime);
    rem->ckSetJudge->setChecked(true);
    for (int key = 1; key <= kMaxKeys; ++key) EXPECT_EQ(colour(key), kRed) << key;

    takeWrites();
    button(2)->click();
    EXPECT_EQ(colour(2), normal());
    button(2)->click();
    EXPECT_EQ(colour(2), kRed);
    EXPECT_TRUE(takeWrites().empty());

    // A received key marks and unmarks too.
    receive(keyFrame(3));
    EXPECT_EQ(colour(3), normal());
    EXPECT_TRUE(takeWrites().empty());
}

TEST_F(FrmRemTest, CheckBoxHandlersRunForEveryChangeOfState) {
    choose(4);
    rem->ckAutoFocus->setChecked(true);
    // By the user's click.
    QTest::mouseClick(rem->ckJudge, Qt::LeftButton, {}, QPoint(4, rem->ckJudge->height() / 2));
    ASSERT_TRUE(rem->ckJudge->isChecked());
    EXPECT_TRUE(rem->ckSound->isChecked());
    EXPECT_FALSE(rem->ckAutoFocus->isChecked());
    EXPECT_FALSE(rem->ckSetJudge->isChecked());
    // Sound is free to change once Check has set it.
    rem->ckSound->setChecked(false);
    EXPECT_TRUE(rem->ckJudge->isChecked());

    // By the program: Set Check switches Check off, whose handler takes Sound with it.
    rem->ckSound->setChecked(true);
    rem->ckAutoFocus->setChecked(true);
    rem->ckSetJudge->setChecked(true);
    EXPECT_FALSE(rem->ckJudge->isChecked());
    EXPECT_FALSE(rem->ckSound->isChecked());
    EXPECT_FALSE(rem->ckAutoFocus->isChecked());

    rem->ckJudge->setChecked(true);
    EXPECT_FALSE(rem->ckSetJudge->isChecked());
    EXPECT_TRUE(rem->ckSound->isChecked());
    rem->ckJudge->setChecked(false);
    EXPECT_FALSE(rem->ckSound->isChecked());

    // Turning Set Check off changes nothing else.
    rem->ckSetJudge->setChecked(true);
    rem->ckSound->setChecked(true);
    button(1)->click();
    rem->ckSetJudge->setChecked(false);
    EXPECT_TRUE(rem->ckSound->isChecked());
    EXPECT_EQ(colour(1), normal());
    EXPECT_EQ(colour(2), kRed);
}

TEST_F(FrmRemTest, StatusBarDoubleClickCopiesPanelOneIntoTheMakerField) {
    choose(4);
    receive(keyFrame(2, "12345678"));
    QTest::mouseDClick(rem->sBarPanel1, Qt::LeftButton);
    EXPECT_EQ(rem->edtMakerCode->text(), QStringLiteral("12h 34h 56h 78h"));

    receive(keyFrame(9));
    ASSERT_EQ(status(), QStringLiteral("Error Key: 9"));
    QTest::mouseDClick(rem->sBar, Qt::LeftButton, {}, QPoint(rem->sBar->width() - 3, 5));
    EXPECT_EQ(rem->edtMakerCode->text(), QStringLiteral("Error Key: 9"));
}

// -- Received key frames ----------------------------------------------------------------------

TEST_F(FrmRemTest, ReceivedKeysOutsideCheckModeToggleLime) {
    choose(4);
    receive(keyFrame(3));
    EXPECT_EQ(colour(3), kLime);
    EXPECT_TRUE(sound.played.isEmpty()) << "Sound is off";
    EXPECT_EQ(focused(), button(3));
    EXPECT_EQ(status(), QStringLiteral("83h 41h 00h 00h"));

    rem->ckSound->setChecked(true);
    receive(keyFrame(1, "12345678"));  // any maker code outside check mode
    EXPECT_EQ(colour(1), kLime);
    EXPECT_EQ(focused(), button(1));
    EXPECT_EQ(status(), QStringLiteral("12h 34h 56h 78h"));
    receive(keyFrame(3));
    EXPECT_EQ(colour(3), normal());
    EXPECT_EQ(sound.played, QStringList({"ding.wav", "ding.wav"}));
}

TEST_F(FrmRemTest, CheckModeJudgesMakerCodeAndExpectedKeys) {
    choose(4);
    rem->ckSetJudge->setChecked(true);
    button(3)->click();
    button(4)->click();  // expected: 1 and 2
    rem->ckJudge->setChecked(true);
    ASSERT_TRUE(rem->ckSound->isChecked());

    // Empty field: every full frame is foreign.
    receive(keyFrame(1));
    EXPECT_EQ(colour(1), kRed);
    EXPECT_EQ(status(), QStringLiteral("83h 41h 00h 00h"));
    rem->edtMakerCode->setText(QStringLiteral("83h 41h 00h 0ah"));
    receive(keyFrame(1, "8341000A"));
    EXPECT_EQ(colour(1), kRed) << "lower-case digits never match";
    EXPECT_EQ(sound.played, QStringList({"chord.wav", "chord.wav"}));
    sound.played.clear();

    rem->edtMakerCode->setText(QStringLiteral("83h 41h 00h 00h"));
    button(4)->setFocus();
    receive(keyFrame(3));  // not expected: refused, but its button takes the focus
    EXPECT_EQ(colour(3), normal());
    EXPECT_EQ(focused(), button(3));
    receive(keyFrame(1));
    EXPECT_EQ(colour(1), kLime);
    receive(keyFrame(1, "12345678"));  // foreign
    receive(keyFrame(1));              // lime back to red
    EXPECT_EQ(colour(1), kRed);
    EXPECT_EQ(sound.played, QStringList({"chord.wav", "chimes.wav", "chord.wav", "chimes.wav"}));
}

TEST_F(FrmRemTest, ReservedCodesErrorKeysAndBadComplements) {
    choose(4);
    rem->ckSound->setChecked(true);
    rem->ckOnColorPanel->setChecked(true);

    receive(keyFrame(5));
    EXPECT_EQ(status(), QStringLiteral("Error Key: 5"));
    EXPECT_EQ(background(), kBlue);
    EXPECT_EQ(colour(1), normal()) << "lamps keep their own colour on a blue key area";
    receive(rendered(keyUnit(205, 0x12)));
    EXPECT_EQ(status(), QStringLiteral("Error Key: 205"));
    receive(rendered(keyUnit(3, 0xFB)));
    EXPECT_EQ(colour(3), normal()) << "wrong complement";
    EXPECT_EQ(status(), QStringLiteral("83h 41h 00h 00h"));
    EXPECT_TRUE(sound.played.isEmpty());
    receive(rendered(keyUnit(3, 0xFC)));
    EXPECT_EQ(colour(3), kLime);

    receive(rendered(keyUnit(255, 0x00)));
    EXPECT_EQ(background(), normal());
    receive(rendered(keyUnit(204, 0x00)));
    EXPECT_EQ(colour(3), normal());
    EXPECT_EQ(background(), kBlue);
    EXPECT_EQ(sound.played, QStringList({"ding.wav"}));
}

// -- Ticks under the test's control -----------------------------------------------------------

// The main window and panel on fake ticks, for the repeat filter and the check run's pause.
class FrmRemFakeTicksTest : public FrmRemTest {
protected:
    ~FrmRemFakeTicksTest() override {
        // The windows read the ticks until they are gone.
        survey.reset();
        rem.reset();
        window.reset();
        context.reset();
    }
    void SetUp() override {
        ExecutableInfo exe{dir.filePath(QStringLiteral("norvale-term")), QDate(2026, 12, 8)};
        context =
            std::make_unique<AppContext>(PlatformServices{serial, fakeTicks, prompts, sound, exe});
        window = std::make_unique<TfrmMain>(*context);
        rem = std::make_unique<TfrmRem>(*context, window.get());
        survey = std::make_unique<TfrmSurvey>(*context, *window, window.get());
        window->setPeerWindows(rem.get(), survey.get());
        choose(4);
        rem->ckSound->setChecked(true);
    }

    FakeTicks fakeTicks{0xFFFFFF00};  // wraps during the tests
};

TEST_F(FrmRemFakeTicksTest, RepeatFilterUsesThePlatformTicks) {
    receive(keyFrame(1));
    fakeTicks.advance(300);
    receive(keyFrame(1));
    EXPECT_EQ(colour(1), kLime) << "repeat within 500 ms";
    fakeTicks.advance(600);
    receive(keyFrame(1));
    EXPECT_EQ(colour(1), normal());

    // A held key: every repeat pushes the window on.
    fakeTicks.advance(1000);
    for (int i = 0; i < 10; ++i) {
        receive(keyFrame(2));
        fakeTicks.advance(400);
    }
    EXPECT_EQ(colour(2), kLime);
    fakeTicks.advance(100);
    receive(keyFrame(3));
    EXPECT_EQ(colour(3), kLime) << "another key 100 ms later";
    EXPECT_EQ(sound.played.size(), 4);
}

TEST_F(FrmRemFakeTicksTest, CompletedCheckRunPausesThenExpectsTheSameKeysAgain) {
    rem->ckSetJudge->setChecked(true);
    button(3)->click();
    button(4)->click();  // expected: 1 and 2; the hidden keys 5..70 are red but not judged
    rem->ckJudge->setChecked(true);
    rem->edtMakerCode->setText(QStringLiteral("83h 41h 00h 00h"));

    receive(keyFrame(1));
    EXPECT_EQ(colour(1), kLime);
    EXPECT_EQ(sound.played, QStringList({"chimes.wav"}));
    takeWrites();

    // The pause pumps the event loop: let time pass there and press a key on the way.
    const std::uint32_t before = fakeTicks.now();
    std::vector<QColor> seen;
    QTimer clock;
    clock.setInterval(0);
    QObject::connect(&clock, &QTimer::timeout, [&] {
        if (ticksSince(before, fakeTicks.now()) == 1000) {
            seen = {colour(1), colour(2)};
            button(3)->click();
        }
        fakeTicks.advance(100);
    });
    clock.start();
    fakeTicks.advance(100);
    receive(keyFrame(2));
    clock.stop();

    EXPECT_EQ(sound.played, QStringList({"chimes.wav", "tada.wav"}));
    EXPECT_EQ(seen, std::vector<QColor>({kLime, kLime})) << "lamps stay lit during the pause";
    EXPECT_EQ(takeWrites().size(), 2U) << "a key pressed during the pause is sent at once";
    EXPECT_GE(ticksSince(before, fakeTicks.now()), 2000U);
    EXPECT_EQ(colour(1), kRed);
    EXPECT_EQ(colour(2), kRed);
    EXPECT_EQ(colour(3), normal());

    // The frame's time is taken after the pause: a copy queued behind it is still a repeat.
    receive(keyFrame(2));
    EXPECT_EQ(colour(2), kRed);
    fakeTicks.advance(500);
    receive(keyFrame(2));
    EXPECT_EQ(colour(2), kLime);
}

TEST_F(FrmRemTest, CheckRunPauseLastsTwoSecondsOnTheRealClock) {
    choose(2);
    rem->ckSetJudge->setChecked(true);
    rem->ckJudge->setChecked(true);
    rem->edtMakerCode->setText(QStringLiteral("83h 41h 00h 00h"));
    receive(keyFrame(1));
    bool pumped = false;
    QTimer::singleShot(50, [&] { pumped = true; });
    QElapsedTimer clock;
    clock.start();
    receive(keyFrame(2));
    EXPECT_GE(clock.elapsed(), 1990);
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_TRUE(pumped) << "the user interface runs during the pause";
    EXPECT_EQ(colour(1), kRed);
    EXPECT_EQ(colour(2), kRed);
    EXPECT_EQ(sound.played, QStringList({"chimes.wav", "tada.wav"}));
}

TEST_F(FrmRemFakeTicksTest, ShortAndGarbledTextsNeverReachALamp) {
    choose(70);
    rem->ckOnColorPanel->setChecked(true);
    const QString full = keyFrame(7);
    QStringList texts{QString(),
                      QStringLiteral(" 0Fh"),
                      QStringLiteral("garbage"),
                      QString(200, QLatin1Char('h')),
                      QStringLiteral("ーｱ") + QChar(0) + QChar(0xFF),
                      rendered(keyUnit(0, 0xFF))};
    // Every cut of a full frame up to its complement's first digit.
    for (qsizetype n = 1; n <= 74; ++n) texts << full.left(n);
    for (const QString& t : texts) {
        SCOPED_TRACE(t.toStdString());
        fakeTicks.advance(1000);  // past the repeat filter, so that every text is read
        receive(t);
        for (int key = 1; key <= kMaxKeys; ++key) ASSERT_EQ(colour(key), normal()) << key;
    }
    EXPECT_EQ(status(), QStringLiteral("83h 41h 00h 00h"));
    EXPECT_EQ(background(), kBlue);
    fakeTicks.advance(1000);
    receive(full);
    EXPECT_EQ(colour(7), kLime);
}

// -- On a real line ---------------------------------------------------------------------------

class FrmRemPtyTest : public FrmRemTest {
protected:
    void SetUp() override { startOnPty(); }
    void send(const QByteArray& bytes) {
        ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), {bytes.begin(), bytes.end()}));
    }
    bool waitFor(const std::function<bool()>& done) { return pumpUntil(done, ticks, 3000); }
};

TEST_F(FrmRemPtyTest, KeyFramesFromTheLineLightLampsAndKeysGoOut) {
    choose(8);
    rem->ckSound->setChecked(true);
    send(keyUnit(6, 6 ^ 0xFF));
    ASSERT_TRUE(waitFor([this] { return colour(6) == kLime; }));
    EXPECT_EQ(focused(), button(6));
    EXPECT_EQ(sound.played, QStringList({"ding.wav"}));
    for (int key = 1; key <= kMaxKeys; ++key) {
        EXPECT_EQ(colour(key), key == 6 ? kLime : normal()) << key;
    }

    // Two frames in one write, one for a key beyond the layout.
    send(keyUnit(2, 2 ^ 0xFF) + keyUnit(9, 9 ^ 0xFF));
    ASSERT_TRUE(waitFor([this] { return status() == QStringLiteral("Error Key: 9"); }));
    EXPECT_EQ(colour(2), kLime);

    const std::uint8_t seq = context->sender.sequence();
    button(5)->click();
    const std::vector<std::uint8_t> out =
        ptytest::readBytes(farEnd->masterFd(), 19, std::chrono::seconds(3));
    const QByteArray got(reinterpret_cast<const char*>(out.data()),
                         static_cast<qsizetype>(out.size()));
    EXPECT_EQ(got.toHex(' '), (keyHeader(seq) + QByteArray::fromHex("8341000005FA")).toHex(' '));

    // Closed, the panel takes no more frames; the monitor still shows them.
    rem->close();
    const int lines = window->monitorLineCount();
    send(keyUnit(1, 1 ^ 0xFF));
    ASSERT_TRUE(waitFor([this, lines] { return window->monitorLineCount() > lines; }));
    EXPECT_EQ(colour(1), normal());
}

}  // namespace
