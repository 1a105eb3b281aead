// SPDX-License-Identifier: MIT
// The module configuration panel: its commands byte for byte, model changes and ID entry.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "core/module_commands.h"
#include "ui/qt_click_panel.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

TEST(ModuleRecords, BytesOfEveryRecord) {
    ModuleSettings ids;
    ids.sysIdHi = 0x12;
    ids.sysIdLo = 0xAB;
    ids.proIdHi = 0x83;
    ids.proIdLo = 0x41;
    EXPECT_EQ(shortSettingsRecord(3, 7, ids),
              hex("03 07 01 08 08 01 04 0A 05 03 05 FF FF 00 00 00 01 51 12 AB 83 41"));
    EXPECT_EQ(fullSettingsRecord(0, 15, 0, ModuleSettings{}),
              hex("00 0F 01 08 08 01 04 0A 05 03 05 00 FF FF 00 00 00 01 51 00 00 00 00"));
    EXPECT_EQ(nineByteSettingsRecord(-1, 2), hex("FF 02 1E 01 00 04 00 0A 1E"));
    EXPECT_EQ(peerChannelFrame(9, {0x0A, 0x0B, 0x0C, 0x0D}, 5, 2),
              hex("0F 5A 15 17 09 0A 0B 0C 0D FF FF FF FF 03 05 02 00 00 00 00 00"));
    const std::vector<std::pair<int, int>> codes{{0, 0}, {1, 1},  {2, 2}, {3, 3},
                                                 {4, 4}, {5, 11}, {6, 12}};
    for (const auto& [row, code] : codes) EXPECT_EQ(uartRateCode(row), code) << row;
}

class ModulePanelTest : public MainWindowTest {
protected:
    void SetUp() override { start(); }
    // The payload of the command frame written as header + payload at index i.
    [[nodiscard]] QByteArray payloadAt(std::size_t i) const { return serial.writes.at(i + 1); }
    [[nodiscard]] std::uint8_t msgIdAt(std::size_t i) const {
        return static_cast<std::uint8_t>(serial.writes.at(i)[3]);
    }
};

TEST_F(ModulePanelTest, MyRfchSendsShortRecordAndStoresChannelAndPower) {
    context->settings.module.sysIdHi = 0x12;
    context->settings.module.sysIdLo = 0xAB;
    context->settings.module.proIdHi = 0x83;
    context->settings.module.proIdLo = 0x41;
    window->cmbRFch->setCurrentIndex(3);
    window->cmbRFpw->setCurrentIndex(7);
    QTest::mouseClick(window->btnRFch, Qt::LeftButton);
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(serial.writes[0], hex("0F 5A 23 2A 00 FF FF FF FF FF FF FF FF"));
    EXPECT_EQ(payloadAt(0),
              hex("03 07 01 08 08 01 04 0A 05 03 05 FF FF 00 00 00 01 51 12 AB 83 41"));
    window->close();
    const QByteArray saved = iniText();
    EXPECT_TRUE(saved.contains("RFch____=3\r\n")) << saved.constData();
    EXPECT_TRUE(saved.contains("RFpw____=7\r\n"));
}

TEST_F(ModulePanelTest, SelectionNotSentIsNotSaved) {
    window->cmbRFch->setCurrentIndex(9);
    window->close();
    EXPECT_TRUE(iniText().contains("RFch____=0\r\n"));
}

TEST_F(ModulePanelTest, InitWritesRateLineThenFullRecord) {
    QTest::mouseClick(window->btnInit, Qt::LeftButton);
    EXPECT_EQ(window->memoRecv->toPlainText(), QStringLiteral("38400bps\n"));
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(msgIdAt(0), 0x7E);
    ASSERT_EQ(payloadAt(0).size(), 23);
    EXPECT_EQ(payloadAt(0)[11], char(0));
    window->cmbBps->setCurrentIndex(5);
    window->btnInitClick();
    EXPECT_EQ(payloadAt(2)[11], char(11));
    EXPECT_TRUE(window->memoRecv->toPlainText().endsWith(QStringLiteral("\n115200bps\n")));
}

TEST_F(ModulePanelTest, ClosedPortIsOpenedFirstAndCommandsGoOutRegardless) {
    window->btnComOpenClick();
    ASSERT_FALSE(context->port.isOpen());
    window->btnReadClick();
    EXPECT_TRUE(context->port.isOpen());
    ASSERT_EQ(serial.writes.size(), 2u);
    EXPECT_EQ(serial.writes[0], hex("0F 5A 0D 7D 00 FF FF FF FF FF FF FF FF"));
    EXPECT_TRUE(serial.writes[1].isEmpty());
}

TEST_F(ModulePanelTest, ModelRowsSetTheirListsAndDefaults) {
    struct Case {
        int row, channelIndex, power, storedCh, storedPw, items;
    };
    for (const Case& c :
         {Case{2, 29, 2, 30, 2, 33}, Case{3, 9, 2, 33, 2, 15}, Case{0, 0, 15, 0, 15, 16}}) {
        window->cmbDevice->setCurrentIndex(c.row);
        window->cmbDeviceCloseUp();
        EXPECT_EQ(window->modelRow(), c.row);
        EXPECT_EQ(window->cmbRFch->count(), c.items);
        EXPECT_EQ(window->cmbRFch->currentIndex(), c.channelIndex) << c.row;
        EXPECT_EQ(window->cmbRFpw->currentIndex(), c.power) << c.row;
        EXPECT_EQ(context->settings.module.rfCh, c.storedCh);
        EXPECT_EQ(context->settings.module.rfPw, c.storedPw);
    }
    // Rows 2 and 3 have no settings command.
    window->cmbDevice->setCurrentIndex(2);
    window->cmbDeviceCloseUp();
    window->btnRFchClick();
    window->btnInitClick();
    EXPECT_TRUE(serial.writes.empty());
}

TEST_F(ModulePanelTest, SecondModelSendsChannelAndPowerAtLeast100msApart) {
    window->cmbDevice->setCurrentIndex(1);
    window->cmbDeviceCloseUp();
    window->cmbRFch->setCurrentIndex(4);
    QElapsedTimer timer;
    timer.start();
    window->btnRFchClick();
    EXPECT_GE(timer.elapsed(), 100);
    ASSERT_EQ(serial.writes.size(), 4u);
    EXPECT_EQ(serial.writes[0], hex("0F 5A 0E 20 00 FF FF FF FF FF FF FF FF"));
    EXPECT_EQ(serial.writes[1], hex("04"));
    EXPECT_EQ(serial.writes[2], hex("0F 5A 0E 21 01 FF FF FF FF FF FF FF FF"));
    EXPECT_EQ(serial.writes[3], hex("0F"));
    window->btnInitClick();
    EXPECT_EQ(msgIdAt(4), 0x74);
    window->btnReadClick();
    EXPECT_EQ(msgIdAt(6), 0x73);
}

TEST_F(ModulePanelTest, ToRfchNeedsAReceivedFrame) {
    window->btnToRFchClick();
    EXPECT_TRUE(serial.writes.empty());
    window->showReceivedIds({1, 2, 3, 4}, {0x0A, 0x0B, 0x0C, 0x0D});
    window->cmbRFch->setCurrentIndex(5);
    window->cmbRFpw->setCurrentIndex(2);
    window->btnToRFchClick();
    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0],
              hex("0F 5A 15 17 00 0A 0B 0C 0D FF FF FF FF 03 05 02 00 00 00 00 00"));
    EXPECT_EQ(context->settings.module.rfCh, 0) << "the peer command stores nothing";
}

TEST_F(ModulePanelTest, IdEntryConvertsBothBoxesAndHidesTheOneUsed) {
    window->pnlSysIDDblClick();
    EXPECT_FALSE(window->edtSysID->isHidden());
    struct Case {
        const char* sys;
        const char* pro;
        const char* wantSys;
        const char* wantPro;
    };
    for (const Case& c :
         {Case{"4660", "abc", "0x1234", "0x0000"}, Case{"$12AB", "0x8341", "0x12AB", "0x8341"},
          Case{" -1", "0x123456", "0xFFFF", "0x3456"},
          Case{"99999999999", "x10", "0x0000", "0x0010"}}) {
        window->edtSysID->setText(QString::fromLatin1(c.sys));
        window->edtProID->setText(QString::fromLatin1(c.pro));
        window->edtSysIDKeyPress(QChar(13));
        EXPECT_EQ(window->edtSysID->text(), QString::fromLatin1(c.wantSys)) << c.sys;
        EXPECT_EQ(window->edtProID->text(), QString::fromLatin1(c.wantPro)) << c.pro;
        EXPECT_EQ(window->pnlSysID->text(),
                  QStringLiteral("SysID: ") + QString::fromLatin1(c.wantSys));
    }
    EXPECT_TRUE(window->edtSysID->isHidden());
    window->pnlProIDDblClick();
    window->pnlProIDDblClick();
    EXPECT_TRUE(window->edtProID->isHidden());
}

TEST_F(ModulePanelTest, EnterInTheIdBoxGoesThroughTheKeyHandler) {
    window->show();
    window->pnlSysIDDblClick();
    window->edtSysID->setText(QStringLiteral("4660"));
    QTest::keyClick(window->edtSysID, Qt::Key_Return);
    EXPECT_EQ(context->settings.module.sysIdHi, 0x12);
    EXPECT_EQ(context->settings.module.sysIdLo, 0x34);
}

TEST_F(MainWindowTest, MyRfchOnARealPtyArrivesWhole) {
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    writeIni("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(pty->slavePath()) +
             "\r\n[QL-UNIT]\r\nRFch____=3\r\nRFpw____=7\r\nSysID___=0x12AB\r\nProID___=0x8341\r\n");
    realDevice = std::make_unique<LinuxSerialDevice>();
    start();
    window->btnRFchClick();
    const auto got = ptytest::readBytes(pty->masterFd(), 35, std::chrono::seconds(2));
    const QByteArray want =
        hex("0F 5A 23 2A 00 FF FF FF FF FF FF FF FF 03 07 01 08 08 01 04 0A 05 03 05 FF FF 00 00 "
            "00 01 51 12 AB 83 41");
    EXPECT_EQ(
        QByteArray(reinterpret_cast<const char*>(got.data()), static_cast<qsizetype>(got.size())),
        want);
}

}  // namespace
