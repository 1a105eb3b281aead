// SPDX-License-Identifier: MIT
#include "windows/frmCom.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <limits>
#include <optional>

#include "session/app_context.h"
#include "core/cp932.h"
#include "session/handler_guard.h"
#include "session/line_mapping.h"
#include "core/port_search.h"
#include "core/profile_text.h"
#include "platform/network_port_name.h"
#include "core/port_candidates.h"
#include "ui/qt_combo_habits.h"
#include "ui/qt_fonts.h"
#include "ui/qt_widget_helpers.h"

namespace {

// Why a typed text cannot go into the settings file, naming its first such character.
std::optional<QString> unstorableTextMessage(const QString& text) {
    std::optional<qsizetype> at = firstUnencodable(text);
    for (qsizetype i = 0; !at && i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n' || text[i] == u'\0') at = i;
    }
    if (!at) return std::nullopt;
    const QString ch = text.mid(*at, text[*at].isHighSurrogate() ? 2 : 1);
    const QString code =
        QStringLiteral("U+%1").arg(ch.toUcs4().value(0), 4, 16, QLatin1Char('0')).toUpper();
    const QString shown = ch.front().isPrint() ? ch : QString();
    return QStringLiteral(
               "「%1」(%2) は設定ファイルに保存できない文字です。 "
               "(The character '%1' (%2) cannot be stored in the settings file.)")
        .arg(shown, code);
}

QLabel* label(const QString& name, const QString& caption, QWidget* parent, QRect at) {
    auto* l = named(new QLabel(caption, parent), name);
    l->setGeometry(at);
    return l;
}

// Editable: the user may pick an item or type any text. Enter must not add what was typed
// to the items.
QComboBox* combo(const QString& name, const QStringList& items, QLabel* caption, QWidget* parent,
                 QRect at) {
    auto* c = named(new QComboBox(parent), name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    keepTypedText(c);
    wheelOnlyWithFocus(c);
    c->addItems(items);
    c->setAccessibleName(caption->text());
    caption->setBuddy(c);
    c->setGeometry(at);
    return c;
}

QLineEdit* edit(const QString& name, QLabel* caption, QWidget* parent, QRect at) {
    auto* e = named(new QLineEdit(parent), name);
    e->setAccessibleName(caption->text());
    caption->setBuddy(e);
    e->setGeometry(at);
    return e;
}

QPushButton* button(const QString& name, const QString& caption, QWidget* parent, QRect at) {
    auto* b = named(new QPushButton(caption, parent), name);
    b->setFocusPolicy(Qt::NoFocus);
    // Enter in a combo box must not end the dialog.
    b->setAutoDefault(false);
    b->setGeometry(at);
    return b;
}

// Shown beside a port's name in the list: what the adapter says it is.
QString portHint(const PortCandidate& port) {
    if (port.description.isEmpty()) return port.manufacturer;
    if (port.manufacturer.isEmpty()) return port.description;
    return port.description + QStringLiteral(" (") + port.manufacturer + QLatin1Char(')');
}

void showText(QComboBox* box, const QString& text) {
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) box->setCurrentIndex(index);
    box->setEditText(text);
}

std::optional<int> strictInt(const QString& text) { return strToInt(text.toUtf8()); }

int clampToInt(long long v) {
    return static_cast<int>(
        std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

TfrmCom::TfrmCom(AppContext& context, const PortCandidates* candidates, std::function<void()> probe,
                 QWidget* owner)
    : QDialog(owner), m_ctx(context), m_candidates(candidates), m_probe(std::move(probe)) {
    setObjectName(QStringLiteral("frmCom"));
    setWindowTitle(QStringLiteral("通信ﾊﾟﾗﾒｰﾀ設定"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(gothicFont());
    setFixedSize(368, 208);
    buildControls();
    fillPortList();
    // Quitting the program while a search runs must not wait for the dialog.
    if (owner) owner->installEventFilter(this);
}

TfrmCom::~TfrmCom() = default;

void TfrmCom::buildControls() {
    gbxParam = named(new QGroupBox(QStringLiteral("通信ﾊﾟﾗﾒｰﾀ"), this), QStringLiteral("gbxParam"));
    gbxParam->setGeometry(4, 2, 168, 152);
    btnPort =
        button(QStringLiteral("btnPort"), QStringLiteral("接続ポート"), gbxParam, {6, 20, 68, 22});
    cmbPort = named(new QComboBox(gbxParam), QStringLiteral("cmbPort"));
    cmbPort->setEditable(true);
    cmbPort->setInsertPolicy(QComboBox::NoInsert);
    keepTypedText(cmbPort);
    wheelOnlyWithFocus(cmbPort);
    cmbPort->setAccessibleName(btnPort->text());
    cmbPort->setGeometry(76, 20, 86, 22);
    // A bare device name fits the box; a longer path is in the tooltip too.
    cmbPort->view()->setMinimumWidth(220);

    const int labelX = 6;
    const int labelW = 66;
    const QRect comboAt(76, 0, 86, 22);
    const auto row = [](QRect r, int y) { return r.translated(0, y); };
    lblBound = label(QStringLiteral("lblBound"), QStringLiteral("ﾎﾞｰﾚｰﾄ"), gbxParam,
                     {labelX, 46, labelW, 22});
    cmbBound = combo(QStringLiteral("cmbBound"),
                     {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                      QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                      QStringLiteral("56000"), QStringLiteral("57600"), QStringLiteral("76800"),
                      QStringLiteral("115200")},
                     lblBound, gbxParam, row(comboAt, 46));
    lblDatBit = label(QStringLiteral("lblDatBit"), QStringLiteral("ﾃﾞｰﾀﾋﾞｯﾄ"), gbxParam,
                      {labelX, 72, labelW, 22});
    cmbDatBit = combo(QStringLiteral("cmbDatBit"), {QStringLiteral("7"), QStringLiteral("8")},
                      lblDatBit, gbxParam, row(comboAt, 72));
    lblParity = label(QStringLiteral("lblParity"), QStringLiteral("ﾊﾟﾘﾃｨﾁｪｯｸ"), gbxParam,
                      {labelX, 98, labelW, 22});
    cmbParity = combo(QStringLiteral("cmbParity"),
                      {QStringLiteral("NONE"), QStringLiteral("ODD"), QStringLiteral("EVEN")},
                      lblParity, gbxParam, row(comboAt, 98));
    lblStopBit = label(QStringLiteral("lblStopBit"), QStringLiteral("ｽﾄｯﾌﾟﾋﾞｯﾄ"), gbxParam,
                       {labelX, 124, labelW, 22});
    cmbStopBit = combo(QStringLiteral("cmbStopBit"), {QStringLiteral("1"), QStringLiteral("2")},
                       lblStopBit, gbxParam, row(comboAt, 124));

    prgBar = named(new QProgressBar(this), QStringLiteral("prgBar"));
    prgBar->setAccessibleName(QStringLiteral("接続ポート検索"));
    prgBar->setGeometry(4, 160, 168, 16);
    prgBar->setTextVisible(false);
    prgBar->setRange(0, PortSearch::kMaxPorts);
    prgBar->setVisible(false);

    const QRect rightCombo(56, 0, 126, 22);
    gbxSend =
        named(new QGroupBox(QStringLiteral("送信ﾃﾞｰﾀ付加情報"), this), QStringLiteral("gbxSend"));
    gbxSend->setGeometry(176, 2, 188, 76);
    lblSendHead =
        label(QStringLiteral("lblSendHead"), QStringLiteral("ﾍｯﾀﾞｰ"), gbxSend, {6, 20, 48, 22});
    cmbSendHead = combo(QStringLiteral("cmbSendHead"),
                        {QStringLiteral("無し"), QStringLiteral("STX"), QStringLiteral("SOH")},
                        lblSendHead, gbxSend, row(rightCombo, 20));
    lblSendDlmt =
        label(QStringLiteral("lblSendDlmt"), QStringLiteral("ﾃﾞﾘﾐﾀ"), gbxSend, {6, 46, 48, 22});
    cmbSendDlmt = combo(
        QStringLiteral("cmbSendDlmt"),
        {QStringLiteral("無し"), QStringLiteral("ETX"), QStringLiteral("CR"), QStringLiteral("LF"),
         QStringLiteral("CRLF"), QStringLiteral("ACK"), QStringLiteral("NAK")},
        lblSendDlmt, gbxSend, row(rightCombo, 46));

    gbxRecv =
        named(new QGroupBox(QStringLiteral("受信ﾃﾞｰﾀ付加情報"), this), QStringLiteral("gbxRecv"));
    gbxRecv->setGeometry(176, 80, 188, 100);
    lblRecvDlmt =
        label(QStringLiteral("lblRecvDlmt"), QStringLiteral("ﾃﾞﾘﾐﾀ"), gbxRecv, {6, 20, 34, 22});
    // The widest item, "ALL(制御コード全般)", needs the room a longer label would take.
    cmbRecvDlmt =
        combo(QStringLiteral("cmbRecvDlmt"),
              {QStringLiteral("無し"), QStringLiteral("ETX"), QStringLiteral("CR"),
               QStringLiteral("LF"), QStringLiteral("CRLF"), QStringLiteral("ALL(制御コード全般)")},
              lblRecvDlmt, gbxRecv, {40, 20, 142, 22});
    lblRecvTout =
        label(QStringLiteral("lblRecvTout"), QStringLiteral("ﾀｲﾑｱｳﾄ"), gbxRecv, {6, 46, 48, 22});
    edtRecvTout = edit(QStringLiteral("edtRecvTout"), lblRecvTout, gbxRecv, {56, 46, 60, 22});
    lblRecvToutUnit =
        label(QStringLiteral("lblRecvToutUnit"), QStringLiteral("mS"), gbxRecv, {120, 46, 40, 22});
    Label1 = label(QStringLiteral("Label1"), QStringLiteral("行サイズ"), gbxRecv, {6, 72, 48, 22});
    edtLFSize = edit(QStringLiteral("edtLFSize"), Label1, gbxRecv, {56, 72, 60, 22});
    Label2 = label(QStringLiteral("Label2"), QStringLiteral("byte"), gbxRecv, {120, 72, 40, 22});

    btnOK = button(QStringLiteral("btnOK"), QStringLiteral("OK"), this, {204, 183, 78, 22});
    btnOK->setToolTip(QStringLiteral("設定の確定"));
    btnCancel =
        button(QStringLiteral("btnCancel"), QStringLiteral("ｷｬﾝｾﾙ"), this, {286, 183, 78, 22});
    btnCancel->setToolTip(QStringLiteral("設定のｷｬﾝｾﾙ"));

    connect(btnOK, &QPushButton::clicked, this, &TfrmCom::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmCom::btnCancelClick);
    connect(btnPort, &QPushButton::clicked, this, &TfrmCom::btnPortClick);
    connect(cmbPort, &QComboBox::currentTextChanged, this, &TfrmCom::showPortHint);
}

void TfrmCom::fillPortList() {
    cmbPort->clear();
    if (!hasCandidates()) {
        for (int n = 1; n <= 8; ++n) cmbPort->addItem(QStringLiteral("COM") + QString::number(n));
        return;
    }
    for (const PortCandidate& port : m_candidates->ports()) {
        cmbPort->addItem(port.name);
        const QString hint = portHint(port);
        if (!hint.isEmpty()) cmbPort->setItemData(cmbPort->count() - 1, hint, Qt::ToolTipRole);
    }
}

// The box itself tells what the port in it is, when the list knows; a network port says
// whether the line settings reach the far end.
void TfrmCom::showPortHint() {
    const QString text = cmbPort->currentText();
    if (const auto network = parseNetworkPortName(text.trimmed().toStdString())) {
        QString hint =
            network->protocol == NetworkPortName::Protocol::RawTcp
                ? QStringLiteral("生の TCP: 回線設定は送られません (raw TCP: the bytes go as they "
                                 "are; baud rate, data bits, parity and stop bits cannot be set "
                                 "from here, the server's own settings hold)")
                : QStringLiteral("RFC 2217: 回線設定はサーバーのポートに送られます (the line "
                                 "settings are set on the server's port)");
        if (network->tls)
            hint += QStringLiteral(
                "\nTLS: サーバー証明書を検証します (the server's certificate is checked against "
                "the system's CAs and the host name; ?ca=FILE trusts that CA instead, "
                "&cert=FILE&key=FILE present a client certificate, &crl=FILE refuses revoked "
                "certificates)");
        cmbPort->setToolTip(hint);
        return;
    }
    const int index = cmbPort->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    cmbPort->setToolTip(index >= 0 ? cmbPort->itemData(index, Qt::ToolTipRole).toString()
                                   : QString());
}

void TfrmCom::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    formShow();
}

void TfrmCom::formShow() {
    const LinkSettings& link = m_ctx.settings.link;
    showText(cmbPort, link.portName);
    showText(cmbBound, QString::number(link.baudRate));
    showText(cmbDatBit, QString::number(link.dataBits));
    showText(cmbStopBit, QString::number(link.stopBits));
    showText(cmbParity, link.parity);
    showText(cmbSendHead, link.sendHead);
    showText(cmbSendDlmt, link.sendDlmt);
    showText(cmbRecvDlmt, link.recvDlmt);
    edtRecvTout->setText(QString::number(link.recvTimeoutMs));
    edtLFSize->setText(QString::number(link.lineWidth / 4));
    showPortHint();
    prgBar->setVisible(false);
    m_ctx.port.setReportOpenFailure(true);
}

void TfrmCom::btnOKClick() {
    if (m_search) return;
    runHandler(m_ctx.platform.prompts, [this] {
        LinkSettings& link = m_ctx.settings.link;
        const LinkSettings before = link;
        // Every value is taken into a copy first: a text that does not convert leaves the
        // settings in memory whole, so a later Cancel or quit cannot save half of them.
        LinkSettings taken = link;
        taken.portName = cmbPort->currentText();
        for (auto [box, field] : {std::pair{cmbBound, &LinkSettings::baudRate},
                                  std::pair{cmbDatBit, &LinkSettings::dataBits},
                                  std::pair{cmbStopBit, &LinkSettings::stopBits}}) {
            const std::optional<int> value = strictInt(box->currentText());
            if (!value) {
                showHandlerError(m_ctx.platform.prompts, notAnIntegerMessage(box->currentText()));
                box->setFocus();
                box->lineEdit()->selectAll();
                return;
            }
            taken.*field = *value;
        }
        taken.parity = cmbParity->currentText();
        taken.sendHead = cmbSendHead->currentText();
        taken.sendDlmt = cmbSendDlmt->currentText();
        taken.recvDlmt = cmbRecvDlmt->currentText();
        // A typed text must have a form in the settings file; one shown as loaded is kept as
        // the file holds it, whatever its bytes.
        for (auto [box, field] : {std::pair{cmbPort, &LinkSettings::portName},
                                  std::pair{cmbParity, &LinkSettings::parity},
                                  std::pair{cmbSendHead, &LinkSettings::sendHead},
                                  std::pair{cmbSendDlmt, &LinkSettings::sendDlmt},
                                  std::pair{cmbRecvDlmt, &LinkSettings::recvDlmt}}) {
            const QString& typed = taken.*field;
            if (typed == before.*field) continue;
            const std::optional<QString> refusal = unstorableTextMessage(typed);
            if (!refusal) continue;
            showHandlerError(m_ctx.platform.prompts, *refusal);
            box->setFocus();
            box->lineEdit()->selectAll();
            return;
        }
        taken.recvTimeoutMs = strictInt(edtRecvTout->text()).value_or(100);
        taken.lineWidth = clampToInt(4LL * strictInt(edtLFSize->text()).value_or(25));

        link = taken;
        m_ctx.port.setReportOpenFailure(true);
        // A network port's open waits with the dialog alive; only Cancel (which gives it up)
        // may be pressed meanwhile.
        setSearching(true);
        const bool opened = m_ctx.port.open();
        setSearching(false);
        if (opened) {
            accept();
            return;
        }
        if (m_ctx.port.lastOpenGivenUp()) {
            link = before;
            return;
        }
        // The user has seen why; show the settings that are still in force.
        link = before;
        formShow();
    });
}

void TfrmCom::btnCancelClick() { reject(); }

void TfrmCom::reject() {
    // An OK's open still waiting for a network port is given up at once.
    if (m_ctx.port.isOpening() && !m_search) m_ctx.port.close();
    // A search runs to its end and reports what it found; the Cancel takes effect after it.
    if (m_search) {
        m_rejectWhenSearchEnds = true;
        btnCancel->setEnabled(false);  // taken; the dialog closes when the search ends
        return;
    }
    QDialog::reject();
}

bool TfrmCom::eventFilter(QObject* watched, QEvent* event) {
    // The owner closing means the program is ending: stop the search and leave at once, so
    // that nothing waits for the dialog. The dialog object itself outlives the search.
    if (watched == parentWidget() && event->type() == QEvent::Close && m_search) {
        m_search->stop();
        m_rejectWhenSearchEnds = false;
        QDialog::reject();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmCom::setSearching(bool on) {
    btnOK->setEnabled(!on);
    btnPort->setEnabled(!on);
    cmbPort->setEnabled(!on);
}

void TfrmCom::btnPortClick() {
    if (m_search) return;
    Prompts& prompts = m_ctx.platform.prompts;
    runHandler(prompts, [this, &prompts] {
        if (!prompts.ask(QStringLiteral("COM Port Search"),
                         QStringLiteral("Connect the USB to Serial Cable"), Prompts::Icon::Warning))
            return;
        const QString typed = cmbPort->currentText().trimmed();
        prgBar->setRange(0, PortSearch::kMaxPorts);
        prgBar->setValue(0);
        prgBar->setVisible(true);
        cmbPort->clear();
        // Listed after the answer: the user may just have plugged the cable in.
        std::vector<PortCandidate> candidates =
            hasCandidates() ? m_candidates->ports() : numberedComPorts();
        // A port typed into the field that the list does not know (a virtual port, a port on
        // the network) goes first, when there is a device by that name to try.
        if (hasCandidates() && !typed.isEmpty() &&
            (QFileInfo::exists(QString::fromStdString(devicePathFor(typed))) ||
             parseNetworkPortName(typed.toStdString())) &&
            std::none_of(candidates.begin(), candidates.end(),
                         [&typed](const PortCandidate& c) { return c.name == typed; })) {
            PortCandidate own;
            own.name = typed;
            candidates.insert(candidates.begin(), std::move(own));
        }

        PortDriver& port = m_ctx.port;
        PortSearch::Line line{[&port] { return port.open(); },
                              [&port] { port.close(); },
                              [this] {
                                  if (m_probe) m_probe();
                              },
                              [&port](bool on) { port.setFrameReceived(on); },
                              [&port] { return port.state().frameReceived; },
                              [&port](std::uint32_t ms) { return port.waitForFrame(ms); },
                              [&port](std::uint32_t ms) { port.pumpFor(ms); },
                              [&port](bool on) { port.setReportOpenFailure(on); }};
        PortSearch::View view{[this](int index) { prgBar->setValue(index); },
                              [this](const QString& name) { cmbPort->setEditText(name); },
                              [this, &candidates](const QString& name) {
                                  cmbPort->addItem(name);
                                  for (const PortCandidate& c : candidates) {
                                      if (c.name == name && !portHint(c).isEmpty())
                                          cmbPort->setItemData(cmbPort->count() - 1, portHint(c),
                                                               Qt::ToolTipRole);
                                  }
                              }};
        PortSearch search(m_ctx.settings.link, std::move(line), std::move(view));

        PortSearch::Result result;
        {
            m_search = &search;
            setSearching(true);
            struct Leave {
                TfrmCom& dialog;
                ~Leave() {
                    dialog.m_search = nullptr;
                    dialog.setSearching(false);
                }
            } leave{*this};
            result = search.run(candidates);
        }

        // A full bar says every port was tried.
        prgBar->setValue(result.found || result.stopped ? result.position : PortSearch::kMaxPorts);
        cmbPort->setEditText(m_ctx.settings.link.portName);
        // A search called off by the program ending goes without a word.
        if (!result.stopped) {
            if (result.found) {
                prompts.message(QStringLiteral("Completed"),
                                QStringLiteral("A connection has been found on ") +
                                    m_ctx.settings.link.portName,
                                Prompts::Icon::None);
            } else {
                prompts.message(QStringLiteral("Warnning"), QStringLiteral("COM port Not found"),
                                Prompts::Icon::None);
            }
        }
        prgBar->setVisible(false);
        if (m_rejectWhenSearchEnds) {
            m_rejectWhenSearchEnds = false;
            QDialog::reject();
        }
    });
}
