// SPDX-License-Identifier: MIT
// The port settings dialog driven through its widgets from the main window's command: the
// layout, what OK and Cancel leave in memory and in the settings file, and the port search
// over pseudo-terminals with a module played on their far ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <functional>
#include <memory>

#include "windows/frmCom.h"
#include "core/port_search.h"
#include "platform/settings_file.h"
#include "platform/dispatching_serial_device.h"
#include "platform/linux_serial_device.h"
#include "core/port_candidates.h"
#include "platform/pty_pair.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"
#include "support/ser2net_server.h"
#include "ui/qt_click_panel.h"

namespace {

class FixedCandidates final : public PortCandidates {
public:
    [[nodiscard]] std::vector<PortCandidate> ports() const override { return list; }
    std::vector<PortCandidate> list;
};

// Key presses carrying the text, so characters outside ASCII type as well.
void type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(edit, &press);
        QApplication::sendEvent(edit, &release);
    }
}

void type(QComboBox* box, const QString& text) { type(box->lineEdit(), text); }

void pick(QComboBox* box, const QString& item) {
    const int index = box->findText(item);
    ASSERT_GE(index, 0) << item.toStdString();
    box->setCurrentIndex(index);
}

QStringList itemsOf(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
}

class FrmComTest : public MainWindowTest {
protected:
    // Runs the main window's port settings command; `drive` plays the user on the shown
    // dialog and the command goes on with the dialog's result.
    int runCommand(const std::function<void(TfrmCom&)>& drive) {
        int result = -1;
        window->setDialogRunner([&](QDialog& d) {
            auto& dialog = dynamic_cast<TfrmCom&>(d);
            dialog.show();
            drive(dialog);
            result = dialog.isVisible() ? -1 : dialog.result();
            return result;
        });
        window->mmComPortClick();
        return result;
    }
    [[nodiscard]] bool iniExists() const { return QFile::exists(context->settingsPath); }
    [[nodiscard]] bool shown(const QString& caption, const QString& text) const {
        return std::any_of(
            prompts.shown.begin(), prompts.shown.end(),
            [&](const FakePrompts::Shown& s) { return s.caption == caption && s.text == text; });
    }
};

// ---- Layout ----

TEST_F(FrmComTest, ControlsCarryTheirNamesCaptionsItemsAndHints) {
    start();
    runCommand([](TfrmCom& d) {
        EXPECT_EQ(d.objectName(), QStringLiteral("frmCom"));
        EXPECT_EQ(d.windowTitle(), QStringLiteral("通信ﾊﾟﾗﾒｰﾀ設定"));
        EXPECT_EQ(d.size(), QSize(368, 208));
        EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "fixed size";
        EXPECT_TRUE(d.windowFlags().testFlag(Qt::WindowCloseButtonHint));
        EXPECT_FALSE(d.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        EXPECT_FALSE(d.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        EXPECT_FALSE(d.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
        const auto caption = [&](const char* name) -> QString {
            QObject* o = d.findChild<QObject*>(QString::fromLatin1(name));
            if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
            if (auto* b = qobject_cast<QPushButton*>(o)) return b->text();
            if (auto* g = qobject_cast<QGroupBox*>(o)) return g->title();
            ADD_FAILURE() << "no control " << name;
            return {};
        };
        EXPECT_EQ(caption("gbxParam"), QStringLiteral("通信ﾊﾟﾗﾒｰﾀ"));
        EXPECT_EQ(caption("btnPort"), QStringLiteral("接続ポート"));
        EXPECT_EQ(caption("lblBound"), QStringLiteral("ﾎﾞｰﾚｰﾄ"));
        EXPECT_EQ(caption("lblDatBit"), QStringLiteral("ﾃﾞｰﾀﾋﾞｯﾄ"));
        EXPECT_EQ(caption("lblParity"), QStringLiteral("ﾊﾟﾘﾃｨﾁｪｯｸ"));
        EXPECT_EQ(caption("lblStopBit"), QStringLiteral("ｽﾄｯﾌﾟﾋﾞｯﾄ"));
        EXPECT_EQ(caption("gbxSend"), QStringLiteral("送信ﾃﾞｰﾀ付加情報"));
        EXPECT_EQ(caption("lblSendHead"), QStringLiteral("ﾍｯﾀﾞｰ"));
        EXPECT_EQ(caption("lblSendDlmt"), QStringLiteral("ﾃﾞﾘﾐﾀ"));
        EXPECT_EQ(caption("gbxRecv"), QStringLiteral("受信ﾃﾞｰﾀ付加情報"));
        EXPECT_EQ(caption("lblRecvDlmt"), QStringLiteral("ﾃﾞﾘﾐﾀ"));
        EXPECT_EQ(caption("lblRecvTout"), QStringLiteral("ﾀｲﾑｱｳﾄ"));
        EXPECT_EQ(caption("lblRecvToutUnit"), QStringLiteral("mS"));
        EXPECT_EQ(caption("Label1"), QStringLiteral("行サイズ"));
        EXPECT_EQ(caption("Label2"), QStringLiteral("byte"));
        EXPECT_EQ(caption("btnOK"), QStringLiteral("OK"));
        EXPECT_EQ(caption("btnCancel"), QStringLiteral("ｷｬﾝｾﾙ"));
        EXPECT_EQ(d.btnOK->toolTip(), QStringLiteral("設定の確定"));
        EXPECT_EQ(d.btnCancel->toolTip(), QStringLiteral("設定のｷｬﾝｾﾙ"));
        for (QPushButton* b : {d.btnOK, d.btnCancel, d.btnPort}) {
            EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();
            EXPECT_FALSE(b->autoDefault() || b->isDefault()) << "Enter in a box ends nothing";
        }
        EXPECT_EQ(d.btnPort->parentWidget(), d.gbxParam);

        EXPECT_EQ(itemsOf(d.cmbPort),
                  (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}))
            << "without a port list the numbered names stand";
        EXPECT_EQ(itemsOf(d.cmbBound), (QStringList{"1200", "2400", "4800", "9600", "19200",
                                                    "38400", "56000", "57600", "76800", "115200"}));
        EXPECT_EQ(itemsOf(d.cmbDatBit), (QStringList{"7", "8"}));
        EXPECT_EQ(itemsOf(d.cmbParity), (QStringList{"NONE", "ODD", "EVEN"}));
        EXPECT_EQ(itemsOf(d.cmbStopBit), (QStringList{"1", "2"}));
        EXPECT_EQ(itemsOf(d.cmbSendHead), (QStringList{"無し", "STX", "SOH"}));
        EXPECT_EQ(itemsOf(d.cmbSendDlmt),
                  (QStringList{"無し", "ETX", "CR", "LF", "CRLF", "ACK", "NAK"}));
        EXPECT_EQ(itemsOf(d.cmbRecvDlmt),
                  (QStringList{"無し", "ETX", "CR", "LF", "CRLF", "ALL(制御コード全般)"}));

        const std::pair<QWidget*, QString> accessible[] = {
            {d.cmbPort, "接続ポート"},  {d.cmbBound, "ﾎﾞｰﾚｰﾄ"},      {d.cmbDatBit, "ﾃﾞｰﾀﾋﾞｯﾄ"},
            {d.cmbParity, "ﾊﾟﾘﾃｨﾁｪｯｸ"}, {d.cmbStopBit, "ｽﾄｯﾌﾟﾋﾞｯﾄ"}, {d.cmbSendHead, "ﾍｯﾀﾞｰ"},
            {d.cmbSendDlmt, "ﾃﾞﾘﾐﾀ"},   {d.cmbRecvDlmt, "ﾃﾞﾘﾐﾀ"},    {d.edtRecvTout, "ﾀｲﾑｱｳﾄ"},
            {d.edtLFSize, "行サイズ"}};
        for (const auto& [w, name] : accessible) {
            EXPECT_EQ(w->accessibleName(), name) << w->objectName().toStdString();
            if (auto* box = qobject_cast<QComboBox*>(w)) {
                EXPECT_TRUE(box->isEditable()) << w->objectName().toStdString();
                EXPECT_EQ(box->insertPolicy(), QComboBox::NoInsert);
            }
        }
        EXPECT_FALSE(d.prgBar->accessibleName().isEmpty());
        d.reject();
    });
}

TEST_F(FrmComTest, EveryCaptionAndItemFitsItsControl) {
    start();
    runCommand([](TfrmCom& d) {
        const QRect client = d.rect();
        for (QWidget* w : d.findChildren<QWidget*>()) {
            if (w->parentWidget() == &d || qobject_cast<QGroupBox*>(w->parentWidget())) {
                EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
                    << w->objectName().toStdString() << " leaves its parent";
            }
        }
        for (QWidget* top : {static_cast<QWidget*>(d.gbxParam), static_cast<QWidget*>(d.gbxSend),
                             static_cast<QWidget*>(d.gbxRecv), static_cast<QWidget*>(d.prgBar),
                             static_cast<QWidget*>(d.btnOK), static_cast<QWidget*>(d.btnCancel)}) {
            EXPECT_TRUE(client.contains(top->geometry())) << top->objectName().toStdString();
        }
        EXPECT_FALSE(d.gbxParam->geometry().intersects(d.gbxSend->geometry()));
        EXPECT_FALSE(d.gbxSend->geometry().intersects(d.gbxRecv->geometry()));
        EXPECT_FALSE(d.gbxRecv->geometry().intersects(d.btnOK->geometry()));
        EXPECT_FALSE(d.gbxParam->geometry().intersects(d.prgBar->geometry()));
        EXPECT_GT(d.prgBar->y(), d.gbxParam->geometry().bottom()) << "the bar sits under gbxParam";
        EXPECT_LT(d.btnOK->x(), d.btnCancel->x());
        EXPECT_EQ(d.btnOK->y(), d.btnCancel->y());

        for (QLabel* l : d.findChildren<QLabel*>()) {
            EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width())
                << l->objectName().toStdString();
        }
        for (QPushButton* b : {d.btnOK, d.btnCancel, d.btnPort}) {
            const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
            EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 2 * margin, b->width())
                << b->objectName().toStdString();
        }
        for (QGroupBox* g : d.findChildren<QGroupBox*>()) {
            EXPECT_LT(g->fontMetrics().horizontalAdvance(g->title()) + 16, g->width());
            // The first row clears the title.
            for (QWidget* c : g->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                EXPECT_GE(c->y(), g->fontMetrics().height()) << c->objectName().toStdString();
        }
        for (QComboBox* box : d.findChildren<QComboBox*>()) {
            if (box == d.cmbPort) continue;  // its items are whatever ports are present
            QStyleOptionComboBox opt;
            opt.initFrom(box);
            opt.editable = true;
            const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                             QStyle::SC_ComboBoxEditField, box);
            for (const QString& item : itemsOf(box)) {
                EXPECT_LE(box->fontMetrics().horizontalAdvance(item), field.width())
                    << box->objectName().toStdString() << ": " << item.toStdString();
            }
        }
        d.reject();
    });
}

// Typed as a user types, with the keys going to the focus widget and Tab ending the edit:
// the texts stay as typed (no case-blind swap for an item), and the wheel over a box without
// the focus changes nothing.
TEST_F(FrmComTest, TypedTextsStayAsTypedAndTheWheelNeedsTheFocus) {
    start();
    runCommand([&](TfrmCom& d) {
        d.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
        for (const auto& [box, text] :
             {std::pair{d.cmbParity, "odd"}, std::pair{d.cmbRecvDlmt, "cr"},
              std::pair{d.cmbBound, "5600"}}) {
            box->setFocus();
            box->lineEdit()->selectAll();
            QTest::keyClicks(QApplication::focusWidget(), QString::fromLatin1(text));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(box->currentText(), QString::fromLatin1(text));
        }
        d.cmbPort->setFocus();
        const QString before = d.cmbStopBit->currentText();
        QWheelEvent wheel(QPointF(5, 5), d.cmbStopBit->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(d.cmbStopBit, &wheel);
        EXPECT_EQ(d.cmbStopBit->currentText(), before);
        d.reject();
    });
}

// ---- Show, OK, Cancel ----

TEST_F(FrmComTest, ShowFillsTheControlsFromTheSettingsAsTheyAre) {
    writeIni(
        "[COMPORT]\r\nPortName=ttyUSB4\r\nBaudRate=14400\r\nByteSize=7\r\nStopBits=2\r\n"
        "Parity__=odd\r\nSendHead=STX\r\nSendDlmt=CRLF\r\nRecvDlmt=LF\r\nRecvTout=250\r\n"
        "LFSize__=21\r\n");
    start();
    runCommand([&](TfrmCom& d) {
        EXPECT_EQ(d.cmbPort->currentText(), QStringLiteral("ttyUSB4"));
        EXPECT_EQ(d.cmbBound->currentText(), QStringLiteral("14400"));
        EXPECT_EQ(d.cmbDatBit->currentText(), QStringLiteral("7"));
        EXPECT_EQ(d.cmbDatBit->currentIndex(), 0) << "a listed value is also the selected item";
        EXPECT_EQ(d.cmbStopBit->currentText(), QStringLiteral("2"));
        EXPECT_EQ(d.cmbParity->currentText(), QStringLiteral("odd"));
        EXPECT_EQ(d.cmbSendHead->currentText(), QStringLiteral("STX"));
        EXPECT_EQ(d.cmbSendDlmt->currentText(), QStringLiteral("CRLF"));
        EXPECT_EQ(d.cmbRecvDlmt->currentText(), QStringLiteral("LF"));
        EXPECT_EQ(d.edtRecvTout->text(), QStringLiteral("250"));
        EXPECT_EQ(d.edtLFSize->text(), QStringLiteral("21"));
        EXPECT_TRUE(d.prgBar->isHidden());
        EXPECT_TRUE(context->port.state().reportOpenFailure);
        EXPECT_FALSE(context->port.isOpen()) << "the command closes the port first";
        d.reject();
    });
}

TEST_F(FrmComTest, OkRoundTripsEveryFieldThroughTheSettingsFile) {
    writeIni("[COMPORT]\r\nRecvHead=SOH\r\n[QL-UNIT]\r\nRFch____=3\r\n");
    start();
    const int result = runCommand([&](TfrmCom& d) {
        type(d.cmbPort, QStringLiteral("ttyUSB3"));
        pick(d.cmbBound, QStringLiteral("57600"));
        pick(d.cmbDatBit, QStringLiteral("7"));
        pick(d.cmbParity, QStringLiteral("EVEN"));
        type(d.cmbStopBit, QStringLiteral("2"));
        pick(d.cmbSendHead, QStringLiteral("SOH"));
        pick(d.cmbSendDlmt, QStringLiteral("CRLF"));
        pick(d.cmbRecvDlmt, QStringLiteral("ALL(制御コード全般)"));
        type(d.edtRecvTout, QStringLiteral("250"));
        type(d.edtLFSize, QStringLiteral("40"));
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(context->port.isOpen());
    EXPECT_EQ(serial.lastPath, "/dev/ttyUSB3");
    EXPECT_EQ(serial.lastParams, (LineParams{57600, 7, Parity::Even, 2}));
    EXPECT_EQ(window->pnlCom->text(), QStringLiteral("ttyUSB3"));
    EXPECT_EQ(window->pnlBps->text(), QStringLiteral("57600bps"));

    LinkSettings expected;
    expected.portName = QStringLiteral("ttyUSB3");
    expected.baudRate = 57600;
    expected.dataBits = 7;
    expected.parity = QStringLiteral("EVEN");
    expected.stopBits = 2;
    expected.sendHead = QStringLiteral("SOH");
    expected.sendDlmt = QStringLiteral("CRLF");
    expected.recvHead = QStringLiteral("SOH");  // no control; carried through unchanged
    expected.recvDlmt = QStringLiteral("ALL(制御コード全般)");
    expected.recvTimeoutMs = 250;
    expected.lineWidth = 160;
    EXPECT_EQ(context->settings.link, expected);
    const Settings reloaded = loadSettings(context->settingsPath);
    EXPECT_EQ(reloaded.link, expected);
    EXPECT_EQ(reloaded.module.rfCh, 3);
}

TEST_F(FrmComTest, OkTakesOddNumbersAndFallsBackForTimeoutAndLineSize) {
    start();
    runCommand([&](TfrmCom& d) {
        type(d.cmbBound, QStringLiteral("14400"));
        type(d.edtRecvTout, QStringLiteral("1.5"));
        type(d.edtLFSize, QStringLiteral("abc"));
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(serial.lastParams.baud, 9600U) << "an unlisted rate opens at 9600";
    EXPECT_EQ(context->settings.link.baudRate, 14400);
    EXPECT_EQ(context->settings.link.recvTimeoutMs, 100);
    EXPECT_EQ(context->settings.link.lineWidth, 100);
    EXPECT_TRUE(iniText().contains("BaudRate=14400"));
    EXPECT_TRUE(iniText().contains("LFSize__=25"));
    EXPECT_EQ(window->pnlBps->text(), QStringLiteral("14400bps"));
}

TEST_F(FrmComTest, OkOnAMissingPortRestoresControlsAndSettingsAndStays) {
    writeIni("[COMPORT]\r\nPortName=/dev/norvale-absent-a\r\nBaudRate=19200\r\n");
    realDevice = std::make_unique<LinuxSerialDevice>();
    start();
    const LinkSettings before = context->settings.link;
    prompts.shown.clear();
    const int result = runCommand([&](TfrmCom& d) {
        type(d.cmbPort, QStringLiteral("/dev/norvale-absent-b"));
        pick(d.cmbBound, QStringLiteral("9600"));
        pick(d.cmbParity, QStringLiteral("ODD"));
        type(d.edtLFSize, QStringLiteral("8"));
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
        ASSERT_EQ(prompts.shown.size(), 1U);
        EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Comm Open"));
        EXPECT_EQ(prompts.shown[0].text, QStringLiteral("INVALID HANDLE"));
        EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::Warning);
        EXPECT_TRUE(prompts.shown[0].detail.contains(QStringLiteral("No such file")));
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.cmbPort->currentText(), QStringLiteral("/dev/norvale-absent-a"));
        EXPECT_EQ(d.cmbBound->currentText(), QStringLiteral("19200"));
        EXPECT_EQ(d.cmbParity->currentText(), QStringLiteral("NONE"));
        EXPECT_EQ(d.edtLFSize->text(), QStringLiteral("32"));
        EXPECT_EQ(context->settings.link, before);
        EXPECT_EQ(window->sBarPanel0->text(), QStringLiteral("/dev/norvale-absent-b:OFF"));
        QTest::mouseClick(d.btnCancel, Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(iniText().contains("absent-b"));
    EXPECT_EQ(context->settings.link, before);
}

TEST_F(FrmComTest, OpenRefusedForPermissionSaysWhatToDo) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens any device";
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    ASSERT_EQ(::chmod(pty->slavePath().c_str(), 0), 0);
    realDevice = std::make_unique<LinuxSerialDevice>();
    start();
    prompts.shown.clear();
    runCommand([&](TfrmCom& d) {
        type(d.cmbPort, QString::fromStdString(pty->slavePath()));
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
        d.reject();
    });
    ASSERT_EQ(prompts.shown.size(), 1U);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("INVALID HANDLE"));
    EXPECT_TRUE(prompts.shown[0].detail.contains(QStringLiteral("Permission denied")));
    EXPECT_TRUE(prompts.shown[0].detail.contains(QStringLiteral("dialout")));
}

TEST_F(FrmComTest, UnconvertibleOrUnstorableTextLeavesNoSettingHalfApplied) {
    writeIni("[COMPORT]\r\nPortName=ttyUSB1\r\nBaudRate=19200\r\n");
    start();
    const LinkSettings before = context->settings.link;
    const QByteArray iniBefore = iniText();
    const int opensBefore = serial.opens;
    struct Case {
        QComboBox* TfrmCom::*box;
        QString text;
        QString message;  // empty: the integer message
    };
    const QString unstorable = QStringLiteral(
        "「%1」(%2) は設定ファイルに保存できない文字です。 "
        "(The character '%1' (%2) cannot be stored in the settings file.)");
    const Case cases[] = {
        {&TfrmCom::cmbBound, QStringLiteral("96OO"), {}},
        {&TfrmCom::cmbDatBit, QStringLiteral("８"), {}},
        {&TfrmCom::cmbStopBit, QStringLiteral("1 "), {}},
        // Texts typed with a character the settings file cannot hold are refused at OK.
        {&TfrmCom::cmbPort, QStringLiteral("COM€"), unstorable.arg(u"€", u"U+20AC")},
        {&TfrmCom::cmbRecvDlmt, QStringLiteral("CRก"), unstorable.arg(u"ก", u"U+0E01")},
    };
    const int result = runCommand([&](TfrmCom& d) {
        for (const Case& c : cases) {
            prompts.shown.clear();
            type(d.cmbPort, QStringLiteral("ttyUSB7"));
            type(d.cmbBound, QStringLiteral("115200"));
            type(d.cmbDatBit, QStringLiteral("7"));
            type(d.cmbStopBit, QStringLiteral("2"));
            type(d.edtLFSize, QStringLiteral("10"));
            type(d.*c.box, c.text);
            QTest::mouseClick(d.btnOK, Qt::LeftButton);
            ASSERT_EQ(prompts.shown.size(), 1U) << c.text.toStdString();
            EXPECT_EQ(prompts.shown[0].caption, AppContext::kAppTitle);
            EXPECT_EQ(prompts.shown[0].text,
                      c.message.isEmpty() ? QStringLiteral("'%1' は整数ではありません").arg(c.text)
                                          : c.message);
            EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::Error);
            EXPECT_TRUE(d.isVisible());
            EXPECT_EQ(context->settings.link, before) << c.text.toStdString();
            EXPECT_EQ((d.*c.box)->currentText(), c.text) << "what was typed stays to be mended";
            if (c.box != &TfrmCom::cmbPort) {
                EXPECT_EQ(d.cmbPort->currentText(), QStringLiteral("ttyUSB7"));
            }
            EXPECT_EQ(serial.opens, opensBefore) << "the port stays closed";
        }
        QTest::mouseClick(d.btnCancel, Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(iniText(), iniBefore) << "Cancel writes nothing";
    // A quit afterwards saves the settings from before, not a mix.
    window->close();
    const Settings saved = loadSettings(context->settingsPath);
    EXPECT_EQ(saved.link, before);
}

TEST_F(FrmComTest, CancelAndCloseBoxTakeNothingAndLeaveThePortClosed) {
    start();
    ASSERT_TRUE(context->port.isOpen());
    const LinkSettings before = context->settings.link;
    for (int way = 0; way < 3; ++way) {
        const int result = runCommand([&](TfrmCom& d) {
            type(d.cmbPort, QStringLiteral("ttyUSB2"));
            type(d.cmbBound, QStringLiteral("oops"));
            if (way == 0) QTest::mouseClick(d.btnCancel, Qt::LeftButton);
            if (way == 1) d.close();
            if (way == 2) QTest::keyClick(&d, Qt::Key_Escape);
        });
        EXPECT_EQ(result, QDialog::Rejected) << way;
        EXPECT_EQ(context->settings.link, before);
        EXPECT_FALSE(context->port.isOpen());
        EXPECT_EQ(window->btnComOpen->text(), QStringLiteral("接続"));
        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_FALSE(iniExists());
    }
}

TEST_F(FrmComTest, PortListOffersThePortsPresentWithWhatTheyAre) {
    FixedCandidates present;
    present.list = {{"ttyUSB0", "CP2102 USB to UART Bridge Controller", "Silicon Labs", true},
                    {"ttyS0", {}, {}, false}};
    writeIni("[COMPORT]\r\nPortName=ttyUSB0\r\n");
    start();
    window->setPortCandidates(&present);
    runCommand([&](TfrmCom& d) {
        EXPECT_EQ(itemsOf(d.cmbPort), (QStringList{"ttyUSB0", "ttyS0"}));
        EXPECT_EQ(d.cmbPort->itemData(0, Qt::ToolTipRole).toString(),
                  QStringLiteral("CP2102 USB to UART Bridge Controller (Silicon Labs)"));
        EXPECT_EQ(d.cmbPort->toolTip(), d.cmbPort->itemData(0, Qt::ToolTipRole).toString());
        pick(d.cmbPort, QStringLiteral("ttyS0"));
        EXPECT_TRUE(d.cmbPort->toolTip().isEmpty());
        type(d.cmbPort, QStringLiteral("/dev/pts/7"));
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(serial.lastPath, "/dev/pts/7") << "a typed path is taken as it stands";
    EXPECT_EQ(context->settings.link.portName, QStringLiteral("/dev/pts/7"));
}

// ---- Port search on pseudo-terminals ----

// The module on the far end of a pty: answers every complete frame with a short one.
class PtyModule final {
public:
    explicit PtyModule(int masterFd) : m_fd(masterFd), m_notifier(masterFd, QSocketNotifier::Read) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { readSome(); });
    }
    int answered = 0;

private:
    void readSome() {
        std::array<char, 256> chunk{};
        const ssize_t n = ::read(m_fd, chunk.data(), chunk.size());
        if (n <= 0) return;
        m_buffer.append(chunk.data(), n);
        while (m_buffer.size() >= 3) {
            if (m_buffer[0] != 0x0F || m_buffer[1] != 0x5A) {
                m_buffer.remove(0, 1);
                continue;
            }
            const auto length = static_cast<std::uint8_t>(m_buffer[2]);
            if (m_buffer.size() < length) break;
            m_buffer.remove(0, length);
            const QByteArray reply = QByteArray::fromHex("0F5A0D00001122334455667788");
            ptytest::writeAll(m_fd, {reply.begin(), reply.end()});
            ++answered;
        }
    }

    int m_fd;
    QSocketNotifier m_notifier;
    QByteArray m_buffer;
};

class PortSearchWindowTest : public FrmComTest {
protected:
    void SetUp() override {
        for (int i = 0; i < 4; ++i) {
            std::string error;
            auto p = PtyPair::create(&error);
            ASSERT_TRUE(p) << error;
            ASSERT_TRUE(p->holdSlave(&error)) << error;
            ptys.push_back(std::move(*p));
        }
        realDevice = std::make_unique<LinuxSerialDevice>();
    }
    QString ptyName(std::size_t i) const { return QString::fromStdString(ptys[i].slavePath()); }
    void startWith(const QByteArray& extraIni = {}) {
        writeIni("[COMPORT]\r\nPortName=/dev/norvale-before\r\nBaudRate=115200\r\n" + extraIni);
        start();
        window->setPortCandidates(&candidates);
        prompts.shown.clear();
    }
    void candidatesAre(const QStringList& names) {
        candidates.list.clear();
        for (const QString& n : names) candidates.list.push_back({n, {}, {}, false});
    }
    void answerOn(std::size_t i) {
        modules.push_back(std::make_unique<PtyModule>(ptys[i].masterFd()));
    }
    int answers() const {
        int n = 0;
        for (const auto& m : modules) n += m->answered;
        return n;
    }
    // The dialog's state at the moment the search's closing message came up.
    struct AfterSearch {
        int position = -1;
        QStringList items;
        QString text;
    };
    AfterSearch search(TfrmCom& d) {
        QTest::mouseClick(d.btnPort, Qt::LeftButton);
        return {d.prgBar->value(), itemsOf(d.cmbPort), d.cmbPort->currentText()};
    }

    std::vector<PtyPair> ptys;
    std::vector<std::unique_ptr<PtyModule>> modules;
    FixedCandidates candidates;
};

TEST_F(PortSearchWindowTest, FindsTheModuleBehindAbsentPortsAndOkAppliesIt) {
    startWith();
    candidatesAre(
        {"/dev/norvale-absent-1", "/dev/norvale-absent-2", "/dev/norvale-absent-3", ptyName(0)});
    answerOn(0);
    AfterSearch after;
    const int result = runCommand([&](TfrmCom& d) {
        after = search(d);
        EXPECT_TRUE(d.prgBar->isHidden());
        EXPECT_EQ(d.prgBar->maximum(), 99);
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
    });
    ASSERT_EQ(prompts.questions.size(), 1U);
    EXPECT_EQ(prompts.questions[0].caption, QStringLiteral("COM Port Search"));
    EXPECT_EQ(prompts.questions[0].text, QStringLiteral("Connect the USB to Serial Cable"));
    EXPECT_EQ(prompts.questions[0].icon, Prompts::Icon::Warning);
    ASSERT_EQ(prompts.shown.size(), 1U) << "absent ports are passed over without a box";
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Completed"));
    EXPECT_EQ(prompts.shown[0].text,
              QStringLiteral("A connection has been found on ") + ptyName(0));
    EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::None);
    EXPECT_EQ(after.position, 3);
    EXPECT_EQ(after.items, QStringList{ptyName(0)});
    EXPECT_EQ(after.text, ptyName(0));
    EXPECT_EQ(answers(), 1);

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(context->port.isOpen());
    EXPECT_EQ(window->pnlCom->text(), ptyName(0));
    EXPECT_EQ(loadSettings(context->settingsPath).link.portName, ptyName(0));
    EXPECT_EQ(loadSettings(context->settingsPath).link.baudRate, 115200);
}

// A port typed into the field that the list does not know (a virtual port) is tried first.
TEST_F(PortSearchWindowTest, ATypedPortOutsideTheListIsSearchedFirst) {
    startWith();
    candidatesAre({"/dev/norvale-absent-1", ptyName(1)});
    answerOn(0);
    AfterSearch after;
    runCommand([&](TfrmCom& d) {
        type(d.cmbPort, ptyName(0));
        after = search(d);
        d.reject();
    });
    EXPECT_EQ(after.position, 0);
    EXPECT_EQ(after.items, QStringList{ptyName(0)});
    EXPECT_TRUE(shown(QStringLiteral("Completed"),
                      QStringLiteral("A connection has been found on ") + ptyName(0)));
}

// So is a network port typed there, as the module behind a ser2net answers on it.
TEST_F(PortSearchWindowTest, ATypedNetworkPortIsSearchedFirst) {
    if (Ser2netServer::program().isEmpty())
        GTEST_SKIP() << "ser2net is not installed (./dev installs it); network ports untested";
    Ser2netServer server;
    std::string error;
    ASSERT_TRUE(server.start(ptys[0].slavePath(), Ser2netServer::Accepter::Rfc2217, &error))
        << error;
    realDevice = std::make_unique<DispatchingSerialDevice>();
    startWith();
    candidatesAre({"/dev/norvale-absent-1", ptyName(1)});
    answerOn(0);
    AfterSearch after;
    runCommand([&](TfrmCom& d) {
        type(d.cmbPort, QStringLiteral("tcp://127.0.0.1:%1").arg(server.port()));
        EXPECT_TRUE(d.cmbPort->toolTip().contains(QStringLiteral("raw TCP")));
        type(d.cmbPort, server.portName());
        EXPECT_TRUE(d.cmbPort->toolTip().contains(QStringLiteral("RFC 2217")));
        after = search(d);
        d.reject();
    });
    EXPECT_EQ(after.items, QStringList{server.portName()});
    EXPECT_TRUE(shown(QStringLiteral("Completed"),
                      QStringLiteral("A connection has been found on ") + server.portName()));
    survey.reset();
    rem.reset();
    window.reset();
}

// Without a settings file the port starts as the list's only adapter; a file's port wins.
TEST_F(FrmComTest, FirstStartProposesTheOnlyAdapter) {
    firstStartPort = [] { return QStringLiteral("/dev/serial/by-id/usb-FTDI_A1-if00-port0"); };
    start();
    EXPECT_EQ(context->settings.link.portName,
              QStringLiteral("/dev/serial/by-id/usb-FTDI_A1-if00-port0"));
    survey.reset();
    rem.reset();
    window.reset();
    context.reset();
    writeIni("[COMPORT]\r\nPortName=COM3\r\n");
    start();
    EXPECT_EQ(context->settings.link.portName, QStringLiteral("COM3"));
}

TEST_F(PortSearchWindowTest, ListsOnlyPortsThatOpenAndStopsAtTheFourth) {
    startWith();
    // The second pty is held by another program.
    LinuxSerialDevice other;
    ASSERT_FALSE(other.open(ptys[1].slavePath(), LineParams{}));
    candidatesAre({ptyName(0), ptyName(1), ptyName(2), ptyName(3)});
    answerOn(3);
    AfterSearch after;
    runCommand([&](TfrmCom& d) {
        after = search(d);
        d.reject();
    });
    EXPECT_EQ(after.position, 3);
    EXPECT_EQ(after.items, (QStringList{ptyName(0), ptyName(2), ptyName(3)}));
    EXPECT_TRUE(shown(QStringLiteral("Completed"),
                      QStringLiteral("A connection has been found on ") + ptyName(3)));
    EXPECT_EQ(prompts.shown.size(), 1U) << "a busy port is passed over without a box";
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_TRUE(context->port.state().reportOpenFailure);
}

TEST_F(PortSearchWindowTest, SilentPortsEndNotFoundWithTheLastPortThatOpened) {
    startWith("RecvTout=300\r\nLFSize__=20\r\n");
    const LinkSettings before = context->settings.link;
    candidatesAre({ptyName(0), ptyName(1), "/dev/norvale-absent-9"});
    AfterSearch after;
    runCommand([&](TfrmCom& d) {
        after = search(d);
        d.reject();
    });
    ASSERT_EQ(prompts.shown.size(), 1U);
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Warnning"));
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("COM port Not found"));
    EXPECT_EQ(prompts.shown[0].icon, Prompts::Icon::None);
    EXPECT_EQ(after.position, 99) << "a full bar: every port was tried";
    EXPECT_EQ(after.items, (QStringList{ptyName(0), ptyName(1)}));
    EXPECT_EQ(after.text, ptyName(1));
    LinkSettings expected = before;
    expected.portName = ptyName(1);
    EXPECT_EQ(context->settings.link, expected);
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_EQ(window->btnComOpen->text(), QStringLiteral("接続"));
}

TEST_F(PortSearchWindowTest, ReceiveDelimiterCrNeverFindsTheModule) {
    startWith("RecvDlmt=CR\r\n");
    candidatesAre({ptyName(0)});
    answerOn(0);
    runCommand([&](TfrmCom& d) {
        search(d);
        d.reject();
    });
    EXPECT_GE(answers(), 1) << "the module did answer";
    EXPECT_TRUE(shown(QStringLiteral("Warnning"), QStringLiteral("COM port Not found")));
    EXPECT_EQ(context->settings.link.portName, ptyName(0)) << "the last port that opened";
}

TEST_F(PortSearchWindowTest, AnsweredNoChangesNothing) {
    startWith();
    candidatesAre({ptyName(0)});
    answerOn(0);
    prompts.answerYes = false;
    const LinkSettings before = context->settings.link;
    runCommand([&](TfrmCom& d) {
        const QStringList items = itemsOf(d.cmbPort);
        const QString status = window->sBarPanel0->text();
        QTest::mouseClick(d.btnPort, Qt::LeftButton);
        EXPECT_EQ(itemsOf(d.cmbPort), items);
        EXPECT_EQ(d.cmbPort->currentText(), QStringLiteral("/dev/norvale-before"));
        EXPECT_TRUE(d.prgBar->isHidden());
        EXPECT_EQ(window->sBarPanel0->text(), status) << "no port was opened";
        d.reject();
    });
    EXPECT_EQ(prompts.questions.size(), 1U);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(answers(), 0);
    EXPECT_EQ(context->settings.link, before);
}

TEST_F(PortSearchWindowTest, CancelAfterASearchWritesNothingAndKeepsTheFoundName) {
    startWith();
    candidatesAre({ptyName(0), ptyName(1)});
    answerOn(1);
    const QByteArray iniBefore = iniText();
    const int result = runCommand([&](TfrmCom& d) {
        search(d);
        QTest::mouseClick(d.btnCancel, Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(iniText(), iniBefore) << "the settings file is not written";
    EXPECT_EQ(context->settings.link.portName, ptyName(1));
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_EQ(window->pnlCom->text(), QStringLiteral("/dev/norvale-before"));
}

// A Cancel, the close box or Escape during a search: the search still runs to its end and
// reports what it found, then the dialog ends as Cancel with nothing left open.
TEST_F(PortSearchWindowTest, CancelDuringASearchTakesEffectWhenTheSearchHasEnded) {
    startWith();
    candidatesAre({ptyName(0), ptyName(1), ptyName(2)});
    answerOn(2);
    for (int way = 0; way < 3; ++way) {
        prompts.shown.clear();
        bool okWhileSearching = true;
        bool visibleAfterCancel = false;
        const int result = runCommand([&](TfrmCom& d) {
            QTimer::singleShot(200, &d, [&] {
                okWhileSearching = d.btnOK->isEnabled() || d.btnPort->isEnabled();
                EXPECT_TRUE(d.searching());
                if (way == 0) QTest::mouseClick(d.btnCancel, Qt::LeftButton);
                if (way == 1) d.close();
                if (way == 2) QTest::keyClick(&d, Qt::Key_Escape);
                visibleAfterCancel = d.isVisible();
                EXPECT_FALSE(d.btnCancel->isEnabled()) << "the Cancel is taken";
            });
            QTest::mouseClick(d.btnPort, Qt::LeftButton);
            EXPECT_FALSE(d.searching());
        });
        EXPECT_FALSE(okWhileSearching) << way;
        EXPECT_TRUE(visibleAfterCancel) << "the dialog waits for the search";
        EXPECT_EQ(result, QDialog::Rejected) << way;
        ASSERT_EQ(prompts.shown.size(), 1U) << way;
        EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Completed"));
        EXPECT_EQ(prompts.shown[0].text,
                  QStringLiteral("A connection has been found on ") + ptyName(2));
        EXPECT_FALSE(context->port.isOpen());
        EXPECT_TRUE(context->port.state().reportOpenFailure);
        EXPECT_EQ(context->settings.link.portName, ptyName(2));
        EXPECT_EQ(context->settings.link.baudRate, 115200);
        context->settings.link.portName = QStringLiteral("/dev/norvale-before");
    }
}

TEST_F(PortSearchWindowTest, QuittingDuringASearchSavesSaneSettingsAndEndsIt) {
    startWith();
    const QString absent = QStringLiteral("/dev/norvale-absent-1");
    candidatesAre({ptyName(0), absent, ptyName(1)});
    bool closedSignal = false;
    QObject::connect(window.get(), &TfrmMain::closed, [&] { closedSignal = true; });
    // Quit in the pause after the absent port, while its name stands in the link settings.
    QObject::connect(&context->port, &PortDriver::statusChanged, window.get(),
                     [&](const QString& s) {
                         if (s == absent + QStringLiteral(":OFF"))
                             QTimer::singleShot(0, window.get(), [&] { window->close(); });
                     });
    const int result = runCommand([&](TfrmCom& d) {
        QTest::mouseClick(d.btnPort, Qt::LeftButton);
        EXPECT_FALSE(d.searching());
    });
    EXPECT_TRUE(closedSignal);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_FALSE(context->port.isOpen());
    const Settings saved = loadSettings(context->settingsPath);
    EXPECT_EQ(saved.link.portName, ptyName(0)) << "what the search would have left";
    EXPECT_EQ(saved.link.baudRate, 115200);
    EXPECT_EQ(context->settings.link.portName, ptyName(0));
}

}  // namespace

namespace {

// The far end of a probed port hangs up during the search's wait: that port stops by itself,
// no box appears for it, and the search goes on to the module on the next port.
TEST_F(PortSearchWindowTest, HangupDuringTheWaitEndsThatProbeOnly) {
    startWith();
    candidatesAre({ptyName(0), ptyName(1)});
    answerOn(1);
    AfterSearch after;
    runCommand([&](TfrmCom& d) {
        QTimer::singleShot(150, [this] { ptys[0].closeMaster(); });
        after = search(d);
        d.reject();
    });
    ASSERT_EQ(prompts.shown.size(), 1U);
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Completed"));
    EXPECT_EQ(prompts.shown[0].text,
              QStringLiteral("A connection has been found on ") + ptyName(1));
    EXPECT_EQ(after.position, 1);
    EXPECT_FALSE(context->port.isOpen());
}

}  // namespace
