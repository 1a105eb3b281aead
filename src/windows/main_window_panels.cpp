// SPDX-License-Identifier: MIT
// The main window's panels and bars, control by control: what each is called, what it
// shows and which handler it calls.
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

QLineEdit* edit(const QString& name, const QString& accessible, const QString& text,
                QWidget* parent) {
    auto* e = named(new QLineEdit(text, parent), name);
    e->setAccessibleName(accessible);
    return e;
}

}  // namespace

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
    memoRecv->installEventFilter(this);
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
