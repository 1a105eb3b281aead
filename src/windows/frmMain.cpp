// SPDX-License-Identifier: MIT
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

TfrmMain::TfrmMain(AppContext& context, QWidget* parent) : QMainWindow(parent), m_ctx(context) {
    setObjectName(QStringLiteral("frmMain"));
    setFont(gothicFont());
    buildMenus();
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);
    buildTopPanel();
    buildSendPanel();
    buildMonitorBar();
    buildMonitorAndStatus();
    column->addWidget(pnlTop);
    column->addWidget(pnlSend);
    column->addWidget(pnlRecv);
    buildInspector();
    column->addWidget(m_monitorSplit, 1);

    m_pipeline = std::make_unique<ReceivePipeline>(m_ctx.settings.link, m_ctx.port,
                                                   m_ctx.platform.ticks, *this, m_idsWithFlush);
    m_ctx.port.setReceiveHandler(m_pipeline.get());
    m_pipeline->setCapture(&m_ctx.capture);
    // The port's state is newer than a line count still waiting for the next flush.
    connect(&m_ctx.port, &PortDriver::statusChanged, sBarPanel0, [this](const QString& text) {
        m_pendingLineCount.reset();
        releasePanel0();
        sBarPanel0->setText(text);
    });
    connect(&m_ctx.port, &PortDriver::connectionShown, this, &TfrmMain::showConnection);
    connect(&m_ctx.port, &PortDriver::reconnected, sBarPanel1, [this] {
        portPanelRefresh();  // an adapter followed to another name
        sBarPanel1->setText(QStringLiteral("再接続しました (reconnected)"));
    });
    formCreate();
}

TfrmMain::~TfrmMain() {
    // Closing the port runs the event loop; no clock tick may reach half-destroyed peers.
    tmClock->stop();
    m_pipeline->setKeyFrameTargets(nullptr, nullptr);
    m_pipeline->setCapture(nullptr);
    m_ctx.port.close();
    m_ctx.port.setReceiveHandler(nullptr);
}

void TfrmMain::setPeerWindows(TfrmRem* rem, TfrmSurvey* survey) {
    m_rem = rem;
    m_survey = survey;
    m_pipeline->setKeyFrameTargets(rem, survey);
}

void TfrmMain::buildMenus() {
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    mmFile = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ (&File)"));
    mmFile->setObjectName(QStringLiteral("mmFile"));
    mmOpen = named(mmFile->addAction(QStringLiteral("開く (&Open)")), QStringLiteral("mmOpen"));
    mmSave = named(mmFile->addAction(QStringLiteral("名前を付けて保存 (Save &As)")),
                   QStringLiteral("mmSave"));
    mmCapture = named(mmFile->addAction(QStringLiteral("記録開始 (Start Capture)...")),
                      QStringLiteral("mmCapture"));
    named(mmFile->addSeparator(), QStringLiteral("N2"));
    mmComPort = named(mmFile->addAction(QStringLiteral("通信設定 (&ComPort)")),
                      QStringLiteral("mmComPort"));
    named(mmFile->addSeparator(), QStringLiteral("N1"));
    // In this menu, not a menu of its own: with the pane off the menu bar stays as it was.
    mmInspector =
        named(mmFile->addAction(QStringLiteral("Inspector")), QStringLiteral("mmInspector"));
    mmInspector->setCheckable(true);
    named(mmFile->addSeparator(), QStringLiteral("N3"));
    mmQuit = named(mmFile->addAction(QStringLiteral("終了 (&Quit)")), QStringLiteral("mmQuit"));
    // Queued, as every accessible action is: these open modal dialogs, and a tool that presses
    // the entry waits on its answer, which would come only once the dialog closed.
    connect(mmOpen, &QAction::triggered, this, &TfrmMain::mmOpenClick, Qt::QueuedConnection);
    connect(mmSave, &QAction::triggered, this, &TfrmMain::mmSaveClick, Qt::QueuedConnection);
    connect(mmCapture, &QAction::triggered, this, &TfrmMain::mmCaptureClick, Qt::QueuedConnection);
    connect(mmComPort, &QAction::triggered, this, &TfrmMain::mmComPortClick, Qt::QueuedConnection);
    connect(mmQuit, &QAction::triggered, this, &TfrmMain::mmQuitClick, Qt::QueuedConnection);
    connect(mmInspector, &QAction::triggered, this,
            [this] { setInspectorShown(mmInspector->isChecked()); });

    // The test-window menu exists but is never shown in the menu bar.
    mmOption = menuBar()->addMenu(QStringLiteral("その他 (&Option)"));
    mmOption->setObjectName(QStringLiteral("mmOption"));
    mmOption->menuAction()->setVisible(false);
    mmRem = mmOption->addMenu(QStringLiteral("Remocon Panel"));
    mmRem->setObjectName(QStringLiteral("mmRem"));
    mmRem->menuAction()->setObjectName(QStringLiteral("mmRem"));
    for (int keys : {2, 4, 8, 18, 27, 32, 48, 70}) {
        const QString caption = QStringLiteral("Kp%1").arg(keys, 2, 10, QLatin1Char('0'));
        QAction* a = named(mmRem->addAction(caption), QStringLiteral("mm") + caption);
        connect(a, &QAction::triggered, this, [this, keys] { mmKpClick(keys); });
    }
    mmSurvey =
        named(mmOption->addAction(QStringLiteral("Survey Panel")), QStringLiteral("mmSurvey"));
    connect(mmSurvey, &QAction::triggered, this, &TfrmMain::mmSurveyClick);
    mmViewInitPnl = named(mmOption->addAction(QStringLiteral("View Initilize Panel")),
                          QStringLiteral("mmViewInitPnl"));
    mmViewInitPnl->setCheckable(true);
    mmViewInitPnl->setChecked(true);
    // Qt has already inverted the check mark when triggered fires.
    connect(mmViewInitPnl, &QAction::triggered, this,
            [this] { btnInit->setVisible(mmViewInitPnl->isChecked()); });
}

void TfrmMain::formCreate() {
    setWindowTitle(captionFor(AppContext::kAppTitle, m_ctx.platform.executable.modified));
    resize(788, 560);
    placeCentredOnScreen(*this);
    m_ctx.loadSettings();
    ckReconnect->setChecked(m_ctx.settings.link.reconnect);
    portPanelRefresh();
    openAtStart();
    memoRecv->clear();
    setInspectorShown(m_ctx.settings.link.inspector);
    cmbSend->clear();
    cmbSend->setEditText({});
    pnlSend->setVisible(true);
    pnlFont->setText(QStringLiteral("Size:") +
                     QString::number(fontPoints(memoRecv->font(), logicalDpiY())));
    pnlClock->setText({});
    ckOneShot->setVisible(false);
    tmClock->setInterval(500);
    tmClock->start();
    ckLogTime->setChecked(false);

    ModuleSettings& module = m_ctx.settings.module;
    cmbRFch->clear();
    cmbRFpw->clear();
    cmbDevice->setCurrentIndex(0);
    cmbRFch->addItems(channelItems(moduleModel(0)));
    cmbRFpw->addItems(powerItems(moduleModel(0)));
    clampStartupChannel(module);
    cmbRFch->setCurrentIndex(listIndexFor(module.rfCh, cmbRFch->count()));
    cmbRFpw->setCurrentIndex(listIndexFor(module.rfPw, cmbRFpw->count()));

    btnRFch->setFixedHeight(45);
    btnRFch->move(btnRFch->x(), 4);
    pnlSrcID->setText({});
    pnlDstID->setText({});
    cmbBps->setCurrentIndex(0);
    edtSysID->setVisible(false);
    edtProID->setVisible(false);
    showModuleIds();
    m_pipeline->resetOneShot();
}

void TfrmMain::openAtStart() {
    const QString& name = m_ctx.settings.link.portName;
    if (!parseNetworkPortName(name.toStdString())) {
        m_ctx.port.open();
        return;
    }
    // A network port may take seconds to answer: the window shows first, saying so, and the
    // open runs from the event loop right after.
    sBarPanel0->setText(name + QStringLiteral(":CONNECTING"));
    QTimer::singleShot(0, this, [this] {
        if (!m_closed && !m_ctx.port.isOpen() && !m_ctx.port.isWaiting()) m_ctx.port.open();
    });
}

void TfrmMain::setEngineeringMode() {
    if (m_engineering) return;
    m_engineering = true;
    // Two rows to the right of the received IDs: model, Read and rate above; the IDs and Init
    // below. "My RFch" gives half its height to "To RFch", so nothing covers anything.
    btnRFch->setFixedHeight(22);
    btnRFch->move(84, 4);
    btnToRFch->setGeometry(84, 28, 72, 22);
    lblDevice->setGeometry(388, 4, 76, 22);
    cmbDevice->setGeometry(466, 4, 150, 22);
    btnRead->setGeometry(620, 4, 50, 22);
    lblBps->setGeometry(674, 4, 30, 22);
    cmbBps->setGeometry(704, 4, 78, 22);
    pnlSysID->setGeometry(388, 28, 110, 22);
    pnlProID->setGeometry(502, 28, 110, 22);
    btnInit->setGeometry(616, 28, 166, 22);
    for (QWidget* w :
         std::initializer_list<QWidget*>{btnToRFch, lblDevice, cmbDevice, btnRead, lblBps, cmbBps,
                                         pnlSysID, pnlProID, ckOneShot})
        w->setVisible(true);
    cmbDevice->setEnabled(true);
    mmOption->menuAction()->setVisible(true);
    setWindowTitle(windowTitle() + QStringLiteral(" [engineering]"));
}

void TfrmMain::showModuleIds() {
    const ModuleSettings& m = m_ctx.settings.module;
    const auto hex = [](std::uint8_t hi, std::uint8_t lo) {
        return QString::asprintf("0x%02X%02X", hi, lo);
    };
    edtSysID->setText(hex(m.sysIdHi, m.sysIdLo));
    pnlSysID->setText(QStringLiteral("SysID: ") + edtSysID->text());
    edtProID->setText(hex(m.proIdHi, m.proIdLo));
    pnlProID->setText(QStringLiteral("ProID: ") + edtProID->text());
}

void TfrmMain::portPanelRefresh() {
    pnlCom->setText(m_ctx.settings.link.portName);
    // Status panel 0 keeps the width of "<port>:OFF", so it does not jump when line counts
    // take turns with the port's state.
    const QString widest = m_ctx.settings.link.portName + QStringLiteral(":OFF");
    const int margins = 2 * sBarPanel0->frameWidth() + 8;
    m_panel0MinWidth = std::max(70, sBarPanel0->fontMetrics().horizontalAdvance(widest) + margins);
    releasePanel0();
    pnlBps->setText(QString::number(m_ctx.settings.link.baudRate) + QStringLiteral("bps"));
}

void TfrmMain::showCountInPanel0(const QString& text) {
    // A label of fixed size does not lay its status bar out again when its text changes; a
    // flood changes the count at every flush. The size held is the one the bar gave it.
    if (!m_panel0Held && sBarPanel0->isVisible()) {
        if (QLayout* layout = statusBar()->layout()) layout->activate();
        sBarPanel0->setFixedSize(sBarPanel0->size());
        m_panel0Held = true;
    }
    sBarPanel0->setText(text);
    if (m_panel0Held && sBarPanel0->sizeHint().width() > sBarPanel0->width()) releasePanel0();
}

void TfrmMain::releasePanel0() {
    sBarPanel0->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    sBarPanel0->setMinimumSize(m_panel0MinWidth, 0);
    m_panel0Held = false;
}

void TfrmMain::tmClockTimer() {
    const QString text =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    // Repaint once a second, not at every half-second tick.
    if (pnlClock->text() != text) {
        pnlClock->setText(text);
        m_clockChangedAt = m_ctx.platform.ticks.now();
    }
    if (m_survey) m_survey->clockTick();
    checkCapture();
}

void TfrmMain::mmQuitClick() { close(); }

void TfrmMain::closeUnattended() {
    m_unattended = true;
    close();
}

void TfrmMain::mmComPortClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        m_ctx.port.close();
        TfrmCom dialog(
            m_ctx, m_portCandidates, [this] { sendMyRfch(); }, this);
        if (m_runDialog(dialog) != QDialog::Accepted) return;
        if (!m_ctx.saveSettings())
            sBarPanel1->setText(QStringLiteral("NG ... ") + m_ctx.settingsPath);
        portPanelRefresh();
    });
}

void TfrmMain::setPortCandidates(const PortCandidates* candidates) {
    m_portCandidates = candidates;
    m_ctx.port.setPortCandidates(candidates);
}

void TfrmMain::btnComOpenClick() {
    // A wait for a vanished device, or for a network port's answer, is the port still
    // wanted: the click gives it up.
    if (m_ctx.port.isOpen() || m_ctx.port.isWaiting() || m_ctx.port.isOpening()) {
        m_ctx.port.close();
    } else {
        m_ctx.port.open();
    }
}

void TfrmMain::sBarDblClick() { pnlSend->setVisible(!pnlSend->isVisible()); }

void TfrmMain::mmSurveyClick() {
    if (m_survey) m_survey->show();
}

void TfrmMain::mmKpClick(int keyCount) {
    if (!m_rem) return;
    m_rem->setKeyCount(keyCount);
    m_rem->show();
}

void TfrmMain::mmViewInitPnlClick() {
    mmViewInitPnl->setChecked(!mmViewInitPnl->isChecked());
    btnInit->setVisible(mmViewInitPnl->isChecked());
}

void TfrmMain::showConnection(bool open) {
    m_connectedShown = open;
    btnComOpen->setText(open ? QStringLiteral("接続中") : QStringLiteral("接続"));
    QPalette pal = btnComOpen->palette();
    pal.setColor(QPalette::ButtonText,
                 open ? QColor(Qt::blue) : palette().color(QPalette::WindowText));
    btnComOpen->setPalette(pal);
}

void TfrmMain::formClose() {
    if (m_closed) return;
    m_closed = true;
    if (!m_ctx.saveSettings()) {
        sBarPanel1->setText(QStringLiteral("NG ... ") + m_ctx.settingsPath);
        // The window is going: say it where the user can still read it.
        std::fprintf(stderr, "norvale-term: the settings could not be saved to %s\n",
                     qPrintable(m_ctx.settingsPath));
        // A box nobody may see would hold a logout or a kill; standard error has said it.
        if (!m_unattended)
            m_ctx.platform.prompts.message(
                AppContext::kAppTitle,
                QStringLiteral("設定を保存できませんでした。 (The settings could not be saved.)"),
                Prompts::Icon::Warning, m_ctx.settingsPath);
    }
    m_ctx.port.close();
    tmClock->stop();
    // After the port: whatever it still delivered while closing goes into the file too.
    stopCapture();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    formClose();
    event->accept();
    if (m_rem) m_rem->hide();
    if (m_survey) m_survey->hide();
    Q_EMIT closed();
}

bool TfrmMain::parameterHexMode() const { return ckSendHex->isChecked(); }

void TfrmMain::openPortIfClosed() {
    // The command goes out whatever the outcome; a closed port simply drops it. A port waiting
    // for its device is left to that wait, which an open would give up.
    if (!m_ctx.port.isOpen() && !m_ctx.port.isWaiting()) m_ctx.port.open();
}

void TfrmMain::btnClearClick() {
    clearMonitor();
    sBarPanel0->setText({});
    m_pipeline->resetOneShot();
}

void TfrmMain::pnlFontDblClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        const std::optional<MonitorFont> chosen =
            m_chooseFont({memoRecv->font(), memoRecv->palette().color(QPalette::Text)});
        if (!chosen) return;
        pnlFont->setText(QStringLiteral("Size:") +
                         QString::number(fontPoints(chosen->font, logicalDpiY())));
        memoRecv->setFont(monitorFont(chosen->font));
        QPalette palette = memoRecv->palette();
        palette.setColor(QPalette::Text, chosen->colour);
        memoRecv->setPalette(palette);
    });
}

namespace {
Prompts::FileChoice textFileChoice(const QString& proposed) {
    return {proposed, QStringLiteral("Txt"),
            QStringList{QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ (*.Txt)"), QStringLiteral("全てのﾌｧｲﾙ (*.*)")}};
}
}  // namespace

void TfrmMain::mmOpenClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        // Open proposes the file last saved; Save As the file last opened. Each dialog takes
        // over the other's name before it shows, whether or not the user then cancels.
        m_openName = m_saveName;
        const std::optional<QString> path =
            m_ctx.platform.prompts.openFileName(textFileChoice(m_openName));
        if (!path) return;
        m_openName = *path;
        const MonitorFileResult file = readMonitorFile(*path);
        if (!file.ok) {
            showHandlerError(m_ctx.platform.prompts, file.error);
            return;
        }
        flush();
        setMonitorText(*memoRecv, file.lastLineEnded ? file.text + u'\n' : file.text);
        sBarPanel1->setText(*path);
    });
}

void TfrmMain::mmSaveClick() {
    runHandler(m_ctx.platform.prompts, [this] {
        m_saveName = m_openName;
        const std::optional<QString> path =
            m_ctx.platform.prompts.saveFileName(textFileChoice(m_saveName));
        if (!path) return;
        m_saveName = *path;
        flush();
        const QString error = writeMonitorFile(*path, monitorText(*memoRecv->document()), false);
        if (!error.isEmpty()) {
            showHandlerError(m_ctx.platform.prompts, error);
            return;
        }
        sBarPanel1->setText(*path);
    });
}

void TfrmMain::showReceivedIds(const std::array<std::uint8_t, 4>& dstId,
                               const std::array<std::uint8_t, 4>& srcId) {
    // Called for a frame of every poll in a flood: no format parsing per byte.
    const auto idText = [](const std::array<std::uint8_t, 4>& id) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        QString text(12, QLatin1Char(' '));
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t b = id[static_cast<std::size_t>(i)];
            text[3 * i] = QLatin1Char(kDigits[b >> 4]);
            text[3 * i + 1] = QLatin1Char(kDigits[b & 0x0F]);
        }
        return text;
    };
    pnlSrcID->setText(idText(dstId));
    pnlDstID->setText(idText(srcId));
    m_dstDevice = srcId;
    if (m_srcIdFollow) edtSrcID->setText(pnlDstID->text());
}

void TfrmMain::IdsWithFlush::showReceivedIds(const std::array<std::uint8_t, 4>& dstId,
                                             const std::array<std::uint8_t, 4>& srcId) {
    // What a peer command goes to is not a display: it is the latest at once.
    m_window.m_dstDevice = srcId;
    m_window.m_pendingIds.emplace(dstId, srcId);
}

void TfrmMain::showPendingIds() {
    if (!m_pendingIds) return;
    const auto ids = *m_pendingIds;
    m_pendingIds.reset();
    showReceivedIds(ids.first, ids.second);
}

void TfrmMain::applySettingsResponse(std::uint8_t sysHi, std::uint8_t sysLo, std::uint8_t proHi,
                                     std::uint8_t proLo) {
    ModuleSettings& m = m_ctx.settings.module;
    m.sysIdHi = sysHi;
    m.sysIdLo = sysLo;
    m.proIdHi = proHi;
    m.proIdLo = proLo;
    showModuleIds();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (watched == cmbSend || watched == cmbSend->lineEdit()) {
                cmbSendKeyPress(QChar(13));
                return true;
            }
            if (watched == edtSysID) {
                edtSysIDKeyPress(QChar(13));
                return true;
            }
            if (watched == edtProID) {
                edtProIDKeyPress(QChar(13));
                return true;
            }
        }
    }
    // What the user types or pastes goes after what was received, not into lines about to go.
    if (m_clearPending && (watched == memoRecv || watched == memoRecv->viewport()) &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::InputMethod ||
         event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Drop))
        flush();
    if (watched == m_monitorSplit && event->type() == QEvent::Show && m_inspectorSizePending)
        sizeInspector(true);
    if (watched == memoRecv->viewport() && !pnlInspector->isHidden()) {
        // Hovering explains the line under the pointer; leaving goes back to the caret's line.
        if (event->type() == QEvent::MouseMove) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            const int number = memoRecv->cursorForPosition(at).blockNumber();
            if (m_inspecting != Inspecting::Line || number != m_inspectedBlock)
                inspectBlock(number);
        } else if (event->type() == QEvent::Leave) {
            inspectBlock(memoRecv->textCursor().blockNumber());
        }
    }
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == statusBar() || watched == sBarPanel0 || watched == sBarPanel1 ||
         watched == sBarPanel2)) {
        sBarDblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
