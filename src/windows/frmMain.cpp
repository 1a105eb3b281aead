// SPDX-License-Identifier: MIT
#include "main/frmMain.h"

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

#include "com/app_context.h"
#include "com/frame_decoder.h"
#include "com/frame_format.h"
#include "com/framing.h"
#include "com/frmCom.h"
#include "com/handler_guard.h"
#include "com/profile_text.h"
#include "main/module_commands.h"
#include "main/module_model.h"
#include "main/monitor_file.h"
#include "main/qt_inspector_pane.h"
#include "main/qt_monitor_text.h"
#include "platform/network_port_name.h"
#include "platform/ticks.h"
#include "rem/frmRem.h"
#include "survey/frmSurvey.h"
#include "ui/qt_accessibility.h"
#include "ui/qt_click_panel.h"
#include "ui/qt_combo_habits.h"
#include "ui/qt_fonts.h"
#include "ui/qt_monitor_scroll_bar.h"
#include "ui/qt_widget_helpers.h"

namespace {

QComboBox* dropDown(const QString& name, const QString& accessible, QWidget* parent) {
    auto* c = named(new QComboBox(parent), name);
    c->setAccessibleName(accessible);
    wheelOnlyWithFocus(c);
    return c;
}

QPushButton* flatButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = named(new QPushButton(caption, parent), name);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFlat(true);
    return b;
}

// The monitor shows hex and Japanese text, neither of which needs the shaper's cosmetic rules;
// skipping them makes laying out a new line several times cheaper.
QFont monitorFont(QFont font) {
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    return font;
}

// The bytes of the unit a monitor line shows; the lines of one unit share them.
class UnitLine final : public QTextBlockUserData {
public:
    explicit UnitLine(QByteArray unit) : bytes(std::move(unit)) {}
    const QByteArray bytes;
};

std::span<const std::uint8_t> byteSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QLineEdit* edit(const QString& name, const QString& accessible, const QString& text,
                QWidget* parent) {
    auto* e = named(new QLineEdit(text, parent), name);
    e->setAccessibleName(accessible);
    return e;
}

}  // namespace

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
                                                   m_ctx.platform.ticks, *this, *this);
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

void TfrmMain::buildTopPanel() {
    pnlTop = named(new QWidget(this), QStringLiteral("pnlTop"));
    pnlTop->setFixedHeight(54);
    cmbRFch = dropDown(QStringLiteral("cmbRFch"), QStringLiteral("RF channel"), pnlTop);
    cmbRFch->setGeometry(8, 4, 72, 22);
    cmbRFpw = dropDown(QStringLiteral("cmbRFpw"), QStringLiteral("RF power"), pnlTop);
    cmbRFpw->setGeometry(8, 28, 72, 22);
    btnRFch = flatButton(QStringLiteral("btnRFch"), QStringLiteral("My RFch"), pnlTop);
    btnRFch->setGeometry(84, 4, 72, 22);
    btnToRFch = flatButton(QStringLiteral("btnToRFch"), QStringLiteral("To RFch"), pnlTop);
    btnToRFch->setGeometry(160, 4, 72, 22);
    btnToRFch->hide();

    lblSrcID =
        named(new QLabel(QStringLiteral("Src. Device ID"), pnlTop), QStringLiteral("lblSrcID"));
    lblSrcID->setGeometry(166, 4, 90, 22);
    pnlSrcID = new ClickPanel(QStringLiteral("pnlSrcID"), pnlTop);
    pnlSrcID->setAccessibleName(QStringLiteral("Src. Device ID"));
    pnlSrcID->setGeometry(258, 4, 120, 22);
    lblDstID =
        named(new QLabel(QStringLiteral("Dst. Device ID"), pnlTop), QStringLiteral("lblDstID"));
    lblDstID->setGeometry(166, 28, 90, 22);
    pnlDstID = new ClickPanel(QStringLiteral("pnlDstID"), pnlTop);
    pnlDstID->setAccessibleName(QStringLiteral("Dst. Device ID"));
    pnlDstID->setGeometry(258, 28, 120, 22);
    for (ClickPanel* p : {pnlSrcID, pnlDstID}) {
        QFont f = p->font();
        f.setBold(true);
        p->setFont(f);
        p->setStyleSheet(QStringLiteral("color: blue;"));
    }

    lblDevice =
        named(new QLabel(QStringLiteral("Device Name"), pnlTop), QStringLiteral("lblDevice"));
    lblDevice->setGeometry(390, 4, 80, 22);
    lblDevice->hide();
    cmbDevice = dropDown(QStringLiteral("cmbDevice"), QStringLiteral("Device Name"), pnlTop);
    for (int row = 0; row < moduleModelCount(); ++row)
        cmbDevice->addItem(QString::fromLatin1(moduleModel(row).name));
    cmbDevice->setGeometry(470, 4, 150, 22);
    cmbDevice->setEnabled(false);
    cmbDevice->hide();

    pnlSysID = new ClickPanel(QStringLiteral("pnlSysID"), pnlTop);
    pnlSysID->setGeometry(390, 28, 110, 22);
    pnlSysID->setAccessibleName(QStringLiteral("SysID"));
    pnlSysID->hide();
    edtSysID = edit(QStringLiteral("edtSysID"), QStringLiteral("SysID"), {}, pnlSysID);
    edtSysID->setGeometry(40, 1, 68, 20);
    pnlProID = new ClickPanel(QStringLiteral("pnlProID"), pnlTop);
    pnlProID->setGeometry(504, 28, 110, 22);
    pnlProID->setAccessibleName(QStringLiteral("ProID"));
    pnlProID->hide();
    edtProID = edit(QStringLiteral("edtProID"), QStringLiteral("ProID"), {}, pnlProID);
    edtProID->setGeometry(40, 1, 68, 20);

    btnInit =
        flatButton(QStringLiteral("btnInit"), QStringLiteral("Init (Default Write:0x7E)"), pnlTop);
    btnInit->setGeometry(390, 4, 170, 22);
    btnRead = flatButton(QStringLiteral("btnRead"), QStringLiteral("Read"), pnlTop);
    btnRead->setGeometry(564, 4, 60, 22);
    btnRead->hide();
    lblBps = named(new QLabel(QStringLiteral("Bps"), pnlTop), QStringLiteral("lblBps"));
    lblBps->setGeometry(630, 4, 30, 22);
    lblBps->hide();
    cmbBps = dropDown(QStringLiteral("cmbBps"), QStringLiteral("Bps"), pnlTop);
    cmbBps->addItems({QStringLiteral("38400"), QStringLiteral("19200"), QStringLiteral("9600"),
                      QStringLiteral("4800"), QStringLiteral("2400"), QStringLiteral("115200"),
                      QStringLiteral("57600")});
    cmbBps->setGeometry(660, 4, 80, 22);
    cmbBps->hide();

    connect(btnRFch, &QPushButton::clicked, this, &TfrmMain::btnRFchClick);
    connect(btnToRFch, &QPushButton::clicked, this, &TfrmMain::btnToRFchClick);
    connect(btnInit, &QPushButton::clicked, this, &TfrmMain::btnInitClick);
    connect(btnRead, &QPushButton::clicked, this, &TfrmMain::btnReadClick);
    connect(cmbDevice, qOverload<int>(&QComboBox::activated), this, &TfrmMain::cmbDeviceCloseUp);
    connect(pnlSysID, &ClickPanel::doubleClicked, this, &TfrmMain::pnlSysIDDblClick);
    connect(pnlProID, &ClickPanel::doubleClicked, this, &TfrmMain::pnlProIDDblClick);
    edtSysID->installEventFilter(this);
    edtProID->installEventFilter(this);
}

void TfrmMain::buildSendPanel() {
    pnlSend = named(new QWidget(this), QStringLiteral("pnlSend"));
    auto* grid = new QGridLayout(pnlSend);
    grid->setContentsMargins(4, 2, 4, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(1);
    btnSend = named(new QPushButton(QStringLiteral("Send"), pnlSend), QStringLiteral("btnSend"));
    btnSend->setFixedSize(56, 40);
    btnSend->setAutoDefault(true);  // Enter on the focused button sends
    grid->addWidget(btnSend, 0, 0, 2, 1);

    lblSendMsgID = new ClickPanel(QStringLiteral("lblSendMsgID"), pnlSend);
    lblSendDstID = new ClickPanel(QStringLiteral("lblSendDstID"), pnlSend);
    lblSendSrcID = new ClickPanel(QStringLiteral("lblSendSrcID"), pnlSend);
    lblSendText = new ClickPanel(QStringLiteral("lblSendText"), pnlSend);
    const QStringList captions{QStringLiteral("MsgID"), QStringLiteral("DstID"),
                               QStringLiteral("SrcID"), QStringLiteral("Parameter")};
    const std::array<ClickPanel*, 4> labels{lblSendMsgID, lblSendDstID, lblSendSrcID, lblSendText};
    for (int i = 0; i < 4; ++i) {
        labels[static_cast<std::size_t>(i)]->setText(captions[i]);
        labels[static_cast<std::size_t>(i)]->setAccessibleName(captions[i]);
        labels[static_cast<std::size_t>(i)]->setFrameStyle(QFrame::NoFrame);
        labels[static_cast<std::size_t>(i)]->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        grid->addWidget(labels[static_cast<std::size_t>(i)], 0, i + 1);
    }
    edtMsgID =
        edit(QStringLiteral("edtMsgID"), QStringLiteral("MsgID"), QStringLiteral("00"), pnlSend);
    edtMsgID->setFixedWidth(44);
    edtDstID = edit(QStringLiteral("edtDstID"), QStringLiteral("DstID"),
                    QStringLiteral("FF FF FF FF"), pnlSend);
    edtDstID->setFixedWidth(96);
    edtSrcID = edit(QStringLiteral("edtSrcID"), QStringLiteral("SrcID"),
                    QStringLiteral("FF FF FF FF"), pnlSend);
    edtSrcID->setFixedWidth(96);
    cmbSend = dropDown(QStringLiteral("cmbSend"), QStringLiteral("Parameter"), pnlSend);
    cmbSend->setEditable(true);
    cmbSend->setInsertPolicy(QComboBox::NoInsert);
    // The parameter goes out as typed: no inline completion from the history, and no
    // case-blind swap for a history item when the editing ends.
    keepTypedText(cmbSend);
    // The parameter mode: off sends the text's Shift_JIS bytes, on reads hex byte pairs.
    ckSendHex = named(new QCheckBox(QStringLiteral("Hex"), pnlSend), QStringLiteral("ckSendHex"));
    ckSendHex->setAccessibleName(QStringLiteral("Parameter as hex bytes"));
    ckSendHex->setToolTip(QStringLiteral(
        "Send the parameter as hex byte pairs (\"01 02 AB\").\n"
        "While ticked, the monitor shows payload bytes as text, and the key panel and the "
        "survey cannot read key frames."));
    grid->addWidget(ckSendHex, 0, 5);
    grid->addWidget(edtMsgID, 1, 1);
    grid->addWidget(edtDstID, 1, 2);
    grid->addWidget(edtSrcID, 1, 3);
    grid->addWidget(cmbSend, 1, 4, 1, 2);
    grid->setColumnStretch(4, 1);

    connect(btnSend, &QPushButton::clicked, this, &TfrmMain::btnSendClick);
    connect(lblSendMsgID, &ClickPanel::clicked, this, &TfrmMain::btnClearClick);
    connect(lblSendDstID, &ClickPanel::doubleClicked, this, &TfrmMain::lblSendDstIDDblClick);
    connect(lblSendSrcID, &ClickPanel::clicked, this, &TfrmMain::lblSendSrcIDClick);
    // A keyboard's Enter reaches the combo box, which hands it on to its line edit directly.
    cmbSend->installEventFilter(this);
    cmbSend->lineEdit()->installEventFilter(this);
}

void TfrmMain::buildMonitorBar() {
    pnlRecv = named(new QWidget(this), QStringLiteral("pnlRecv"));
    auto* row = new QHBoxLayout(pnlRecv);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(4);
    btnClear = flatButton(QStringLiteral("btnClear"), QStringLiteral("Monitor Clear"), pnlRecv);
    btnComOpen = flatButton(QStringLiteral("btnComOpen"), QStringLiteral("接続"), pnlRecv);
    btnComOpen->setMinimumWidth(64);
    pnlCom = new ClickPanel(QStringLiteral("pnlCom"), pnlRecv);
    pnlCom->setAccessibleName(QStringLiteral("Port"));
    pnlCom->setMinimumWidth(64);
    pnlBps = new ClickPanel(QStringLiteral("pnlBps"), pnlRecv);
    pnlBps->setAccessibleName(QStringLiteral("Baud rate"));
    pnlBps->setMinimumWidth(72);
    pnlFont = new ClickPanel(QStringLiteral("pnlFont"), pnlRecv);
    pnlFont->setAccessibleName(QStringLiteral("Monitor font size"));
    pnlFont->setMinimumWidth(56);
    ckOneShot =
        named(new QCheckBox(QStringLiteral("One Shot"), pnlRecv), QStringLiteral("ckOneShot"));
    ckLogTime =
        named(new QCheckBox(QStringLiteral("LogTime"), pnlRecv), QStringLiteral("ckLogTime"));
    ckLogTime->setLayoutDirection(Qt::RightToLeft);  // caption to the left of the box
    ckReconnect = named(new QCheckBox(QStringLiteral("再接続 (Reconnect)"), pnlRecv),
                        QStringLiteral("ckReconnect"));
    ckReconnect->setLayoutDirection(Qt::RightToLeft);  // as LogTime beside it
    ckReconnect->setToolTip(
        QStringLiteral("装置が外れても、戻りしだい同じ装置を開き直します "
                       "(reopen the same device as soon as it is back after it went away)"));
    pnlClock = named(new QLabel(pnlRecv), QStringLiteral("pnlClock"));
    pnlClock->setAccessibleName(QStringLiteral("Clock"));
    pnlClock->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnlClock->setAlignment(Qt::AlignCenter);
    pnlClock->setMinimumWidth(140);
    pnlClock->setAutoFillBackground(true);
    QPalette pal = pnlClock->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::yellow);
    pnlClock->setPalette(pal);

    row->addWidget(btnClear);
    row->addWidget(btnComOpen);
    row->addWidget(pnlCom);
    row->addWidget(pnlBps);
    row->addWidget(pnlFont);
    row->addStretch(1);
    row->addWidget(ckOneShot);
    row->addWidget(ckReconnect);
    row->addWidget(ckLogTime);
    row->addWidget(pnlClock);

    connect(btnComOpen, &QPushButton::clicked, this, &TfrmMain::btnComOpenClick);
    // clicked, not toggled: the setting shown at start is not a change of it.
    connect(ckReconnect, &QCheckBox::clicked, this, [this](bool on) {
        m_ctx.settings.link.reconnect = on;
        m_ctx.port.reconnectChanged();
    });
    connect(btnClear, &QPushButton::clicked, this, &TfrmMain::btnClearClick);
    connect(pnlFont, &ClickPanel::doubleClicked, this, &TfrmMain::pnlFontDblClick);
    connect(pnlCom, &ClickPanel::doubleClicked, this, &TfrmMain::mmComPortClick);
    connect(pnlBps, &ClickPanel::doubleClicked, this, &TfrmMain::mmComPortClick);
}

void TfrmMain::buildMonitorAndStatus() {
    memoRecv = named(new QPlainTextEdit(this), QStringLiteral("memoRecv"));
    memoRecv->setAccessibleName(QStringLiteral("Monitor"));
    memoRecv->setFont(monitorFont(minchoFont()));
    memoRecv->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoRecv->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoRecv->setVerticalScrollBar(new MonitorScrollBar(Qt::Vertical));
    memoRecv->setHorizontalScrollBar(new MonitorScrollBar(Qt::Horizontal));
    memoRecv->setPlainText(QStringLiteral("memoRecv"));  // design text, removed at start-up
    // The monitor holds its text as it would be saved: every line the system adds ends with a
    // line end, so the caret after the last one sits on a fresh line and typing starts a new one.
    // Tab moves on to the next control, as in the desktop's edit boxes.
    memoRecv->setTabChangesFocus(true);
    m_runDialog = [](QDialog& dialog) { return dialog.exec(); };
    m_chooseFont = [this](const MonitorFont& current) { return chooseMonitorFont(current, this); };

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("sBar"));
    bar->setSizeGripEnabled(true);
    sBarPanel0 = named(new QLabel(bar), QStringLiteral("sBarPanel0"));
    sBarPanel0->setMinimumWidth(m_panel0MinWidth);
    sBarPanel1 = named(new QLabel(bar), QStringLiteral("sBarPanel1"));
    sBarPanel1->setMinimumWidth(100);
    bar->addWidget(sBarPanel0);
    bar->addWidget(sBarPanel1, 1);
    sBarPanel2 = named(new QLabel(bar), QStringLiteral("sBarPanel2"));
    bar->addWidget(sBarPanel2);
    sBarPanel2->hide();
    bar->installEventFilter(this);
    for (QWidget* w : std::initializer_list<QWidget*>{bar, sBarPanel0, sBarPanel1})
        addAccessibleAction(w, kDoubleClickAction, [this] { sBarDblClick(); });
    for (QLabel* panel : {sBarPanel0, sBarPanel1, sBarPanel2}) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->installEventFilter(this);
    }

    tmClock = new QTimer(this);
    tmClock->setObjectName(QStringLiteral("tmClock"));
    connect(tmClock, &QTimer::timeout, this, &TfrmMain::tmClockTimer);
    tmFlush = new QTimer(this);
    tmFlush->setSingleShot(true);
    tmFlush->setInterval(kFlushFrameMs);
    connect(tmFlush, &QTimer::timeout, this, [this] {
        flush();
        m_busy = true;
    });
}

void TfrmMain::buildInspector() {
    pnlInspector = named(new QPlainTextEdit(this), QStringLiteral("pnlInspector"));
    pnlInspector->setAccessibleName(QStringLiteral("Inspector"));
    pnlInspector->setReadOnly(true);
    pnlInspector->setLineWrapMode(QPlainTextEdit::NoWrap);
    pnlInspector->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pnlInspector->setMinimumWidth(160);
    pnlInspector->hide();
    m_monitorSplit = new QSplitter(Qt::Horizontal, this);
    m_monitorSplit->setChildrenCollapsible(false);
    m_monitorSplit->addWidget(memoRecv);
    m_monitorSplit->addWidget(pnlInspector);
    m_monitorSplit->setStretchFactor(0, 1);
    m_monitorSplit->installEventFilter(this);
    // Only the user's drag moves the handle; the width chosen is kept from then on.
    connect(m_monitorSplit, &QSplitter::splitterMoved, this,
            [this] { m_ctx.settings.link.inspectorWidth = m_monitorSplit->sizes().value(1); });
    m_viewportTracking = memoRecv->viewport()->hasMouseTracking();
    memoRecv->viewport()->installEventFilter(this);

    connect(memoRecv, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        // Lines arriving move the caret too; that is not the user choosing a line.
        if (!pnlInspector->isHidden() && !m_inserting)
            inspectBlock(memoRecv->textCursor().blockNumber());
    });
    const auto preview = [this] {
        if (!pnlInspector->isHidden()) inspectSendPreview();
    };
    for (QLineEdit* box : {edtMsgID, edtDstID, edtSrcID})
        connect(box, &QLineEdit::textChanged, this, preview);
    connect(cmbSend, &QComboBox::editTextChanged, this, preview);
    connect(ckSendHex, &QCheckBox::toggled, this, preview);
}

void TfrmMain::setInspectorShown(bool shown) {
    mmInspector->setChecked(shown);
    m_ctx.settings.link.inspector = shown;
    memoRecv->viewport()->setMouseTracking(shown || m_viewportTracking);
    if (shown == !pnlInspector->isHidden()) return;
    pnlInspector->setVisible(shown);
    if (!shown) {
        memoRecv->setExtraSelections({});
        return;
    }
    inspectBlock(memoRecv->textCursor().blockNumber());
    sizeInspector(true);
}

void TfrmMain::showInspectorText(const QString& text) {
    if (pnlInspector->toPlainText() == text) return;
    pnlInspector->setPlainText(text);
    sizeInspector(false);
}

void TfrmMain::sizeInspector(bool opening) {
    if (pnlInspector->isHidden()) return;
    if (!m_monitorSplit->isVisible()) {
        // The splitter has its width only once the window shows (see eventFilter).
        m_inspectorSizePending = true;
        return;
    }
    opening = opening || std::exchange(m_inspectorSizePending, false);
    const int dragged = m_ctx.settings.link.inspectorWidth;
    if (!opening && dragged > 0) return;
    const int total = std::max(0, m_monitorSplit->width() - m_monitorSplit->handleWidth());
    const int least = pnlInspector->minimumWidth();
    // The monitor keeps the larger part, and at least the pane's least width.
    const int width =
        dragged > 0 ? std::clamp(dragged, least, std::max(least, total - least))
                    : std::clamp(widthForLines(*pnlInspector), least, std::max(least, total / 2));
    if (!opening && width <= pnlInspector->width()) return;
    m_monitorSplit->setSizes({total - width, width});
}

void TfrmMain::markInspected(int blockNumber) {
    const auto unitOf = [this](int number) -> const UnitLine* {
        const QTextBlock b = memoRecv->document()->findBlockByNumber(number);
        return b.isValid() ? dynamic_cast<const UnitLine*>(b.userData()) : nullptr;
    };
    const UnitLine* line = blockNumber >= 0 ? unitOf(blockNumber) : nullptr;
    if (line == nullptr) {
        if (!memoRecv->extraSelections().isEmpty()) memoRecv->setExtraSelections({});
        return;
    }
    // The lines of one unit share its bytes; an empty unit is one line.
    const auto same = [&](int number) {
        const UnitLine* other = unitOf(number);
        return !line->bytes.isEmpty() && other && other->bytes.isSharedWith(line->bytes);
    };
    int first = blockNumber;
    int last = blockNumber;
    while (first > 0 && same(first - 1)) --first;
    while (same(last + 1)) ++last;
    memoRecv->setExtraSelections(blockMarks(*memoRecv, first, last));
}

void TfrmMain::inspectBlock(int blockNumber) {
    m_inspecting = Inspecting::Line;
    m_inspectedBlock = blockNumber;
    const QTextBlock block = memoRecv->document()->findBlockByNumber(blockNumber);
    const auto* line = dynamic_cast<const UnitLine*>(block.userData());
    markInspected(blockNumber);
    if (line == nullptr) {
        showInspectorText(
            QStringLiteral("この行に受信データはありません (no received unit behind this line)"));
        return;
    }
    const bool framesFollowed =
        delimiterModeFor(m_ctx.settings.link.recvDlmt) == DelimiterMode::None;
    showInspectorText(renderDecoded(
        decodeUnit(byteSpan(line->bytes), {Direction::Received, m_modelRow, framesFollowed})));
}

void TfrmMain::inspectSendPreview() {
    m_inspecting = Inspecting::SendPreview;
    m_inspectedBlock = -1;
    markInspected(-1);
    const PanelTexts texts{edtMsgID->text(), edtDstID->text(), edtSrcID->text(),
                           cmbSend->currentText(), parameterHexMode()};
    // The sequence number Send would take next; looking does not take it.
    const auto built = buildPanelFrame(texts, m_ctx.sender.sequence());
    const QString title = QStringLiteral("送信プレビュー (Send preview)\n");
    if (const auto* refusal = std::get_if<FrameRefusal>(&built)) {
        showInspectorText(title + QStringLiteral("送信できません (Send would refuse): ") +
                          refusal->message);
        return;
    }
    const Frame& frame = std::get<Frame>(built);
    showInspectorText(title + renderDecoded(decodeUnit(byteSpan(frame.header + frame.payload),
                                                       {Direction::Sent, m_modelRow})));
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

void TfrmMain::lblSendDstIDDblClick() { edtDstID->setText(pnlDstID->text()); }

void TfrmMain::lblSendSrcIDClick() {
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
             QStringList{QStringLiteral("ﾛｸﾞﾌｧｲﾙ (*.log)"), QStringLiteral("全てのﾌｧｲﾙ (*)")}});
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

void TfrmMain::applySettingsResponse(std::uint8_t sysHi, std::uint8_t sysLo, std::uint8_t proHi,
                                     std::uint8_t proLo) {
    ModuleSettings& m = m_ctx.settings.module;
    m.sysIdHi = sysHi;
    m.sysIdLo = sysLo;
    m.proIdHi = proHi;
    m.proIdLo = proLo;
    showModuleIds();
}

int TfrmMain::lineCount() const {
    const QTextDocument* doc = memoRecv->document();
    int lines = 0;
    if (!doc->isEmpty()) {
        lines = doc->blockCount();
        // The empty block after a final line end is where the next line goes, not a line.
        if (doc->lastBlock().length() <= 1) --lines;
    }
    return lines + static_cast<int>(m_pendingLines.size());
}

void TfrmMain::clearMonitor() {
    m_pendingLines.clear();
    m_pendingUnits.clear();
    m_pendingLineCount.reset();
    memoRecv->clear();
}

void TfrmMain::appendLines(const QStringList& lines) {
    m_pendingLines += lines;
    m_pendingUnits.resize(m_pendingUnits.size() + static_cast<std::size_t>(lines.size()));
}

void TfrmMain::appendUnitLines(const QStringList& lines, std::span<const std::uint8_t> unit) {
    m_pendingLines += lines;
    const QByteArray bytes(reinterpret_cast<const char*>(unit.data()),
                           static_cast<qsizetype>(unit.size()));
    m_pendingUnits.insert(m_pendingUnits.end(), static_cast<std::size_t>(lines.size()), bytes);
}

void TfrmMain::showLineCount(int count) { m_pendingLineCount = count; }

void TfrmMain::flushSoon() {
    if (tmFlush->isActive()) return;
    if (m_pendingLines.isEmpty() && !m_pendingLineCount) return;
    // A quiet line shows its unit at once. Appends within a frame of the last insertion are
    // gathered; once gathering was needed, the line is busy and gathers for two frames, so that
    // a stream costs one insertion and one repaint per two frames. While every flush replaces
    // what the monitor shows, the lines fly past unread and it gathers for four. A gap of the
    // window ends it.
    const qint64 since = m_lastInsert.isValid() ? m_lastInsert.elapsed() : kFloodFlushMs;
    int window = kFlushFrameMs;
    if (m_busy) {
        const int shown =
            memoRecv->viewport()->height() / std::max(1, memoRecv->fontMetrics().lineSpacing());
        window = m_lastFlushLines > shown ? kFloodFlushMs : kBusyFlushMs;
    }
    if (since >= window) {
        flush();
        return;
    }
    tmFlush->start(static_cast<int>(window - since));
}

void TfrmMain::flush() {
    tmFlush->stop();
    m_busy = false;
    if (!m_pendingLines.isEmpty()) {
        QScrollBar* bar = memoRecv->verticalScrollBar();
        const bool atBottom = bar->value() >= bar->maximum() - 1;
        QTextDocument* doc = memoRecv->document();
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::End);
        QString text = m_pendingLines.join(u'\n') + u'\n';
        // After a last line the user typed without ending it.
        const bool afterTyped = !doc->isEmpty() && doc->lastBlock().length() > 1;
        if (afterTyped) text.prepend(u'\n');
        const int firstBlock = doc->lastBlock().blockNumber() + (afterTyped ? 1 : 0);
        // Received lines are not the user's edits: Undo must not take them away. As with the
        // desktop's edit control, adding them ends what could be undone.
        doc->setUndoRedoEnabled(false);
        m_inserting = true;
        cursor.insertText(text);
        m_inserting = false;
        doc->setUndoRedoEnabled(true);
        QTextBlock block = doc->findBlockByNumber(firstBlock);
        for (const std::optional<QByteArray>& unit : m_pendingUnits) {
            if (unit) {
                block.setUserData(new UnitLine(*unit));
            } else if (block.userData() != nullptr) {
                block.setUserData(nullptr);
            }
            block = block.next();
        }
        if (block.isValid() && block.userData() != nullptr) block.setUserData(nullptr);
        m_pendingUnits.clear();
        m_lastFlushLines = static_cast<int>(m_pendingLines.size());
        m_probe.lines += static_cast<std::uint64_t>(m_pendingLines.size());
        m_pendingLines.clear();
        // Follow new lines only when the user was already at the end.
        if (atBottom) bar->setValue(bar->maximum());
        m_lastInsert.start();
        m_probe.shownAt = std::chrono::steady_clock::now();
    }
    if (m_pendingLineCount) {
        showCountInPanel0(QString::number(*m_pendingLineCount));
        m_pendingLineCount.reset();
    }
}

bool TfrmMain::logTime() const { return ckLogTime->isChecked(); }

bool TfrmMain::oneShot() const { return ckOneShot->isChecked(); }

QString TfrmMain::clockText() const { return pnlClock->text(); }

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
