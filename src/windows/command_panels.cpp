// SPDX-License-Identifier: MIT
// The main window's module configuration and send panels: the frames their buttons send
// and the ID entries they keep.
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

void TfrmMain::sendCommand(std::uint8_t msgId, const QByteArray& payload) {
    auto& buffer = m_ctx.sender.commandBuffer();
    const auto n = std::min<std::size_t>(buffer.size(), static_cast<std::size_t>(payload.size()));
    std::copy_n(payload.constData(), n, reinterpret_cast<char*>(buffer.data()));
    m_ctx.sender.sendCommand(msgId, static_cast<int>(n));
}

void TfrmMain::sendMyRfch() {
    ModuleSettings& m = m_ctx.settings.module;
    const int ch = cmbRFch->currentIndex();
    const int pw = cmbRFpw->currentIndex();
    if (m_modelRow == 0) {
        m.rfCh = ch;
        m.rfPw = pw;
        sendCommand(msg::kShortSettings, shortSettingsRecord(ch, pw, m));
    } else if (m_modelRow == 1) {
        m.rfCh = ch;
        m.rfPw = pw;
        sendCommand(msg::kChannel, QByteArray(1, indexByte(ch)));
        m_ctx.port.pumpFor(100);
        sendCommand(msg::kPower, QByteArray(1, indexByte(pw)));
    }
}

void TfrmMain::btnRFchClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        openPortIfClosed();
        sendMyRfch();
    });
}

void TfrmMain::btnInitClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        openPortIfClosed();
        takeIdEntries();
        ModuleSettings& m = m_ctx.settings.module;
        const int ch = cmbRFch->currentIndex();
        const int pw = cmbRFpw->currentIndex();
        if (m_modelRow == 0) {
            m.rfCh = ch;
            m.rfPw = pw;
            appendLines({cmbBps->currentText() + QStringLiteral("bps")});
            flush();
            sendCommand(msg::kFullSettings,
                        fullSettingsRecord(ch, pw, uartRateCode(cmbBps->currentIndex()), m));
        } else if (m_modelRow == 1) {
            m.rfCh = ch;
            m.rfPw = pw;
            sendCommand(msg::kNineByteSettings, nineByteSettingsRecord(ch, pw));
        }
    });
}

void TfrmMain::btnReadClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        openPortIfClosed();
        sendCommand(m_modelRow == 1 ? msg::kReadSecondModel : msg::kRead, {});
    });
}

void TfrmMain::btnToRFchClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        showPendingIds();
        if (pnlDstID->text().isEmpty()) return;
        const QByteArray frame = peerChannelFrame(m_ctx.sender.takeSequence(), m_dstDevice,
                                                  cmbRFch->currentIndex(), cmbRFpw->currentIndex());
        m_ctx.sender.sendWhole(frame);
    });
}

void TfrmMain::cmbDeviceCloseUp() {
    const int row = std::clamp(cmbDevice->currentIndex(), 0, moduleModelCount() - 1);
    const ModuleModel& model = moduleModel(row);
    ModuleSettings& m = m_ctx.settings.module;
    cmbRFch->clear();
    cmbRFpw->clear();
    m.rfCh = model.defaultChannel;
    m.rfPw = model.defaultPower;
    cmbRFch->addItems(channelItems(model));
    cmbRFpw->addItems(powerItems(model));
    cmbRFch->setCurrentIndex(listIndexFor(m.rfCh - model.firstChannel, cmbRFch->count()));
    cmbRFpw->setCurrentIndex(listIndexFor(m.rfPw, cmbRFpw->count()));
    m_modelRow = row;
}

void TfrmMain::takeIdEntries() {
    ModuleSettings& m = m_ctx.settings.module;
    // Bits above 15 are dropped; text that is not a number gives 0.
    const auto value = [](const QLineEdit* box) {
        return static_cast<std::uint32_t>(strToInt(box->text().toUtf8()).value_or(0));
    };
    const std::uint32_t sys = value(edtSysID);
    const std::uint32_t pro = value(edtProID);
    m.sysIdHi = static_cast<std::uint8_t>(sys >> 8);
    m.sysIdLo = static_cast<std::uint8_t>(sys);
    m.proIdHi = static_cast<std::uint8_t>(pro >> 8);
    m.proIdLo = static_cast<std::uint8_t>(pro);
    showModuleIds();
}

void TfrmMain::idKeyPress(QLineEdit* box, QChar key) {
    if (key != QChar(13)) return;
    takeIdEntries();
    box->hide();
}

void TfrmMain::edtSysIDKeyPress(QChar key) { idKeyPress(edtSysID, key); }

void TfrmMain::edtProIDKeyPress(QChar key) { idKeyPress(edtProID, key); }

void TfrmMain::toggleIdBox(QLineEdit* box) {
    // isHidden, not isVisible: the panels themselves are hidden in this layout.
    if (!box->isHidden()) {
        box->hide();
    } else {
        box->show();
        box->setFocus();
    }
}

void TfrmMain::pnlSysIDDblClick() { toggleIdBox(edtSysID); }

void TfrmMain::pnlProIDDblClick() { toggleIdBox(edtProID); }

void TfrmMain::btnSendClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        showPendingIds();
        const PanelTexts texts{edtMsgID->text(), edtDstID->text(), edtSrcID->text(),
                               cmbSend->currentText(), parameterHexMode()};
        if (const auto refusal = m_ctx.sender.sendFrame(texts)) {
            showHandlerError(m_ctx.platform.prompts, *refusal);
            return;
        }
        // Exact match: case and spaces count, so "ab" and "ab " are two entries.
        const QString text = cmbSend->currentText();
        for (int i = 0; i < cmbSend->count(); ++i) {
            if (cmbSend->itemText(i) == text) return;
        }
        cmbSend->addItem(text);
        cmbSend->setEditText(text);
    });
    // The next frame takes the next sequence number.
    if (!pnlInspector->isHidden() && m_inspecting == Inspecting::SendPreview) inspectSendPreview();
}

void TfrmMain::cmbSendKeyPress(QChar key) {
    if (key == QChar(13)) btnSend->setFocus();
}

void TfrmMain::lblSendDstIDDblClick() {
    showPendingIds();
    edtDstID->setText(pnlDstID->text());
}

void TfrmMain::lblSendSrcIDClick() {
    showPendingIds();
    m_srcIdFollow = !m_srcIdFollow;
    // A palette, not a style sheet: styling the label would shift it against its neighbours.
    QPalette colours = lblSendMsgID->palette();
    if (m_srcIdFollow) colours.setColor(QPalette::WindowText, Qt::red);
    lblSendSrcID->setPalette(colours);
    if (m_srcIdFollow) {
        if (!pnlDstID->text().isEmpty()) edtSrcID->setText(pnlDstID->text());
    } else {
        edtSrcID->setText(QStringLiteral("FF FF FF FF"));
    }
}
