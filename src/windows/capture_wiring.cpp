// SPDX-License-Identifier: MIT
// The main window's side of a capture: the menu entry, the status panel that shows the
// file, and the message when the writer stops on a fault.
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

void TfrmMain::mmCaptureClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        if (m_ctx.capture.running()) {
            stopCapture();
            return;
        }
        const QString folder = m_captureFolder.isEmpty() ? QDir::homePath() : m_captureFolder;
        const QString name = QDateTime::currentDateTime().toString(
            QStringLiteral("'norvale-'yyyyMMdd-HHmmss'.log'"));
        const std::optional<QString> path = m_ctx.platform.prompts.saveFileName(
            {QDir(folder).filePath(name), QStringLiteral("log"),
             QStringList{QStringLiteral("ﾛｸﾞﾌｧｲﾙ (*.log)"),
                         QStringLiteral("Wireshark (*.pcapng)"), QStringLiteral("全てのﾌｧｲﾙ (*)")}});
        if (!path) return;
        if (const std::optional<QString> error = startCapture(*path)) {
            m_ctx.platform.prompts.message(
                AppContext::kAppTitle,
                QStringLiteral("記録を開始できませんでした: %1: %2 (The capture could not start: "
                               "%1: %2)")
                    .arg(*path, *error),
                Prompts::Icon::Warning);
        }
    });
}

std::optional<QString> TfrmMain::startCapture(const QString& path) {
    std::optional<QString> error = m_ctx.capture.start(path);
    if (!error) m_captureFolder = QFileInfo(path).absolutePath();
    showCapture();
    return error;
}

void TfrmMain::stopCapture() {
    m_ctx.capture.stop();
    showCapture();
}

void TfrmMain::showCapture() {
    const bool running = m_ctx.capture.running();
    mmCapture->setText(running ? QStringLiteral("記録停止 (Stop Capture)")
                               : QStringLiteral("記録開始 (Start Capture)..."));
    if (running) {
        sBarPanel2->setText(QStringLiteral("%1  %2 bytes")
                                .arg(QFileInfo(m_ctx.capture.path()).fileName(),
                                     QString::number(m_ctx.capture.size())));
    }
    sBarPanel2->setVisible(running);
}

void TfrmMain::checkCapture() {
    if (!m_ctx.capture.running()) return;
    if (const std::optional<QString> error = m_ctx.capture.error()) {
        const QString path = m_ctx.capture.path();
        stopCapture();
        m_ctx.platform.prompts.message(
            AppContext::kAppTitle,
            QStringLiteral("記録を止めました: %1: %2 (The capture stopped: %1: %2)")
                .arg(path, *error),
            Prompts::Icon::Warning);
        return;
    }
    showCapture();
}
