// SPDX-License-Identifier: MIT
#include "windows/frmRem.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <algorithm>
#include <utility>

#include "session/app_context.h"
#include "ui/qt_accessibility.h"
#include "ui/qt_fonts.h"
#include "ui/qt_widget_helpers.h"
#include "platform/sound.h"
#include "core/ticks.h"
#include "core/maker_code.h"

namespace {

constexpr const char* kTagProperty = "Tag";
// The maker code field keeps this gap to the right edge as the window's width changes.
constexpr int kMakerFieldLeft = 140;
constexpr int kMakerFieldRightGap = 10;
constexpr int kStatusPanel0Width = 50;
constexpr int kStatusPanelGap = 2;
constexpr int kStatusPanelTop = 2;
constexpr int kStatusPanelHeight = kStatusBarHeight - kStatusPanelTop;

QCheckBox* checkBox(const QString& name, const QString& caption, const QRect& geometry,
                    QWidget* parent) {
    auto* box = named(new QCheckBox(caption, parent), name);
    box->setGeometry(geometry);
    return box;
}

QString lampDescription(LampColour lamp) {
    switch (lamp) {
        case LampColour::Red:
            return QStringLiteral("red");
        case LampColour::Lime:
            return QStringLiteral("lime");
        case LampColour::Normal:
            break;
    }
    return QStringLiteral("off");
}

void setBackground(QWidget& widget, const QColor& colour) {
    // Set even when the colour is already right: a lamp must not inherit the key area's blue.
    QPalette pal = widget.palette();
    pal.setColor(QPalette::Window, colour);
    widget.setPalette(pal);
}

}  // namespace

TfrmRem::TfrmRem(AppContext& context, QWidget* parent) : QDialog(parent), m_ctx(context) {
    // Every run numbers its frames from 0, counted from the creation of this window.
    m_ctx.sender.resetSequence();
    setObjectName(QStringLiteral("frmRem"));
    setWindowTitle(QStringLiteral("Remocon Panel"));
    setFont(gothicFont());
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);
    buildKeyArea();
    buildOptionStrip();
    buildStatusBar();
    edtMakerCode->clear();
    showState();
    applyLayout();
}

void TfrmRem::buildKeyArea() {
    pnlKey = named(new QFrame(this), QStringLiteral("pnlKey"));
    pnlKey->setAccessibleName(QStringLiteral("Keys"));
    // Lowered outside, raised inside: the etched edge of the designed key area.
    pnlKey->setFrameStyle(QFrame::Box | QFrame::Sunken);
    pnlKey->setAutoFillBackground(true);
    for (int key = 1; key <= kMaxKeys; ++key) {
        auto* b = named(new QPushButton(QString::number(key), pnlKey), keyButtonName(key));
        b->setProperty(kTagProperty, buttonTagFor(key));
        b->resize(kKeyButtonWidth, kKeyButtonHeight);
        connect(b, &QPushButton::clicked, this, [this, b] { btnK01Click(*b); });
        m_buttons[static_cast<std::size_t>(key - 1)] = b;
    }
    // Made after the buttons so that each lamp lies above its button; clicks go through it.
    for (int key = 1; key <= kMaxKeys; ++key) {
        auto* lamp = named(new QFrame(pnlKey), keyLampName(key));
        lamp->setAccessibleName(QStringLiteral("Lamp %1").arg(key));
        lamp->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        lamp->setAutoFillBackground(true);
        lamp->setAttribute(Qt::WA_TransparentForMouseEvents);
        lamp->resize(kLampSize, kLampSize);
        m_lamps[static_cast<std::size_t>(key - 1)] = lamp;
    }
}

void TfrmRem::buildOptionStrip() {
    pnlClear = named(new QFrame(this), QStringLiteral("pnlClear"));
    pnlClear->setAccessibleName(QStringLiteral("Options"));
    btnClear =
        named(new QPushButton(QStringLiteral("Clear"), pnlClear), QStringLiteral("btnClear"));
    btnClear->setGeometry(4, 4, 75, 61);
    ckOnColorPanel = checkBox(QStringLiteral("ckOnColorPanel"), QStringLiteral("On ColorPanel"),
                              {84, 4, 116, 19}, pnlClear);
    ckSetJudge = checkBox(QStringLiteral("ckSetJudge"), QStringLiteral("Set Check"),
                          {204, 4, 120, 19}, pnlClear);
    ckSound =
        checkBox(QStringLiteral("ckSound"), QStringLiteral("Sound"), {84, 24, 116, 19}, pnlClear);
    ckAutoFocus = checkBox(QStringLiteral("ckAutoFocus"), QStringLiteral("Auto Focus"),
                           {204, 24, 120, 19}, pnlClear);
    ckJudge =
        checkBox(QStringLiteral("ckJudge"), QStringLiteral("Check"), {84, 44, 56, 19}, pnlClear);
    edtMakerCode = named(new QLineEdit(pnlClear), QStringLiteral("edtMakerCode"));
    edtMakerCode->setAccessibleName(QStringLiteral("Maker code"));
    edtMakerCode->setGeometry(kMakerFieldLeft, 44, 186, 21);

    connect(btnClear, &QPushButton::clicked, this, &TfrmRem::btnClearClick);
    // toggled fires for the user's clicks and for every setChecked that changes the box.
    connect(ckJudge, &QCheckBox::toggled, this, &TfrmRem::ckJudgeClick);
    connect(ckSetJudge, &QCheckBox::toggled, this, &TfrmRem::ckSetJudgeClick);
}

void TfrmRem::buildStatusBar() {
    sBar = named(new QStatusBar(this), QStringLiteral("sBar"));
    sBar->setSizeGripEnabled(false);
    sBar->setAccessibleName(QStringLiteral("Status bar"));
    // The panels are placed by hand: the bar's own layout wants more than its 19 pixels.
    sBarPanel0 = named(new QLabel(sBar), QStringLiteral("sBarPanel0"));
    sBarPanel0->setAccessibleName(QStringLiteral("Status"));
    sBarPanel1 = named(new QLabel(sBar), QStringLiteral("sBarPanel1"));
    sBarPanel1->setAccessibleName(QStringLiteral("Received maker code"));
    sBar->installEventFilter(this);
    for (QWidget* w : std::initializer_list<QWidget*>{sBar, sBarPanel0, sBarPanel1})
        addAccessibleAction(w, kDoubleClickAction, [this] { sBarDblClick(); });
    for (QLabel* panel : {sBarPanel0, sBarPanel1}) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->installEventFilter(this);
    }
}

void TfrmRem::setKeyCount(int count) {
    m_keyCount = count;
    if (isVisible()) applyLayout();
}

QPushButton* TfrmRem::keyButton(int key) const {
    if (key < 1 || key > kMaxKeys) return nullptr;
    return m_buttons[static_cast<std::size_t>(key - 1)];
}

QFrame* TfrmRem::keyLamp(int key) const {
    if (key < 1 || key > kMaxKeys) return nullptr;
    return m_lamps[static_cast<std::size_t>(key - 1)];
}

QColor TfrmRem::lampColour(LampColour lamp) const {
    switch (lamp) {
        case LampColour::Red:
            return {255, 0, 0};
        case LampColour::Lime:
            return {0, 255, 0};
        case LampColour::Normal:
            break;
    }
    return palette().color(QPalette::Button);
}

QColor TfrmRem::keyAreaColour(bool blue) const {
    return blue ? QColor(0, 0, 255) : palette().color(QPalette::Window);
}

void TfrmRem::applyLayout() {
    const QPushButton& first = *m_buttons.front();
    const KeyLayout l = keyLayoutFor(m_keyCount, first.width(), first.height());
    for (int key = 1; key <= kMaxKeys; ++key) {
        QPushButton* b = keyButton(key);
        QFrame* lamp = keyLamp(key);
        if (l.isShown(key)) {
            b->setGeometry(l.buttonRect(key));
            lamp->setGeometry(l.lampRect(key));
        }
        b->setVisible(l.isShown(key));
        lamp->setVisible(l.isShown(key));
    }
    pnlKey->setGeometry(0, 0, l.clientWidth, l.keyAreaHeight);
    pnlClear->setGeometry(0, l.keyAreaHeight, l.clientWidth, kOptionStripHeight);
    edtMakerCode->resize(l.clientWidth - kMakerFieldLeft - kMakerFieldRightGap,
                         edtMakerCode->height());
    sBar->setGeometry(0, l.keyAreaHeight + kOptionStripHeight, l.clientWidth, kStatusBarHeight);
    sBarPanel0->setGeometry(0, kStatusPanelTop, kStatusPanel0Width, kStatusPanelHeight);
    sBarPanel1->setGeometry(kStatusPanel0Width + kStatusPanelGap, kStatusPanelTop,
                            l.clientWidth - kStatusPanel0Width - kStatusPanelGap,
                            kStatusPanelHeight);
    setFixedSize(l.clientWidth, l.clientHeight);
}

void TfrmRem::pullControls() {
    m_state.keyCount = m_keyCount;
    m_state.makerField = edtMakerCode->text();
    KeyOptions& o = m_state.options;
    o.onColorPanel = ckOnColorPanel->isChecked();
    o.setCheck = ckSetJudge->isChecked();
    o.sound = ckSound->isChecked();
    o.autoFocus = ckAutoFocus->isChecked();
    o.check = ckJudge->isChecked();
}

void TfrmRem::showState() {
    for (int key = 1; key <= kMaxKeys; ++key) {
        QFrame& lamp = *keyLamp(key);
        const LampColour state = m_state.lamp(key);
        setBackground(lamp, lampColour(state));
        const QString description = lampDescription(state);
        if (lamp.accessibleDescription() != description) lamp.setAccessibleDescription(description);
    }
    setBackground(*pnlKey, keyAreaColour(m_state.blueBackground));
    sBarPanel1->setText(m_state.statusText);
    if (edtMakerCode->text() != m_state.makerField) edtMakerCode->setText(m_state.makerField);
    // The core has already run the handlers of the boxes it switched; their signals would run
    // them a second time.
    const KeyOptions& o = m_state.options;
    const std::array<std::pair<QCheckBox*, bool>, 5> boxes{{{ckOnColorPanel, o.onColorPanel},
                                                            {ckSetJudge, o.setCheck},
                                                            {ckSound, o.sound},
                                                            {ckAutoFocus, o.autoFocus},
                                                            {ckJudge, o.check}}};
    for (const auto& [box, on] : boxes) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
}

void TfrmRem::sendKey(int key) {
    pullControls();
    const KeySend plan =
        planKeySend(m_state.makerField, key, m_state.options.autoFocus, m_keyCount);
    m_state.makerField = plan.makerField;
    showState();
    if (plan.payload) {
        auto& buffer = m_ctx.sender.commandBuffer();
        std::copy_n(
            reinterpret_cast<const std::uint8_t*>(plan.payload->constData()),
            std::min<std::size_t>(static_cast<std::size_t>(plan.payload->size()), buffer.size()),
            buffer.begin());
        m_ctx.sender.sendCommand(kKeyFrameMsgId, static_cast<int>(plan.payload->size()));
    }
    if (QPushButton* next = keyButton(plan.focusKey)) next->setFocus(Qt::OtherFocusReason);
}

void TfrmRem::toggleSetLamp(int key) {
    pullControls();
    ::toggleSetLamp(m_state, key);
    showState();
}

void TfrmRem::setAllLampsRed() {
    pullControls();
    ::setAllLampsRed(m_state);
    showState();
}

void TfrmRem::resetLamps() {
    pullControls();
    ::resetLamps(m_state);
    showState();
}

void TfrmRem::btnK01Click(const QPushButton& button) {
    const int key = keyFromButtonTag(button.property(kTagProperty).toInt());
    if (ckSetJudge->isChecked()) {
        toggleSetLamp(key);
    } else {
        sendKey(key);
    }
}

void TfrmRem::btnClearClick() {
    resetLamps();
    sendKey(kClearCode);
    // Last: a key judged while a port error box was up must not leave the area blue.
    m_state.blueBackground = false;
    showState();
}

void TfrmRem::ckJudgeClick() {
    pullControls();
    checkChanged(m_state, ckJudge->isChecked());
    showState();
}

void TfrmRem::ckSetJudgeClick() {
    pullControls();
    setCheckChanged(m_state, ckSetJudge->isChecked());
    showState();
}

void TfrmRem::sBarDblClick() { edtMakerCode->setText(sBarPanel1->text()); }

void TfrmRem::keyFrameReceived(const QString& renderedText) {
    pullControls();
    const KeyVerdict verdict =
        m_judge.keyFrameReceived(renderedText, m_state, m_ctx.platform.ticks.now());
    if (verdict.repeat) return;
    showState();
    if (QPushButton* b = keyButton(verdict.focusKey)) b->setFocus(Qt::OtherFocusReason);
    if (verdict.sound != KeySound::None) m_ctx.platform.sound.play(soundFileName(verdict.sound));
    if (verdict.checkRunComplete) finishCheckRun();
}

void TfrmRem::finishCheckRun() {
    // Lets the user see every lamp lit. Received data waits: the receive thread is blocked on
    // the poll that brought this frame. Clicks and option changes run nested in the pause.
    m_ctx.port.pumpFor(kCheckRunPauseMs);
    pullControls();
    m_judge.finishCheckRun(m_state, m_ctx.platform.ticks.now());
    showState();
}

void TfrmRem::showEvent(QShowEvent* event) {
    m_openFlag = true;
    // A window restored from the task bar keeps its place and keys.
    if (!event->spontaneous()) {
        applyLayout();
        // QDialog centres itself over the main window, kept on the screen, unless it was
        // moved by code; every showing starts from the centre again.
        setAttribute(Qt::WA_Moved, false);
    }
    QDialog::showEvent(event);
}

void TfrmRem::keyPressEvent(QKeyEvent* event) {
    // Only the close box closes the panel: a stray Escape must not end the judging. Enter
    // that no control took (on a check box, say) must not press a default key button: keys
    // are sent only by clicks on them.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter)
        return;
    QDialog::keyPressEvent(event);
}

void TfrmRem::hideEvent(QHideEvent* event) {
    // The close box and hide() end here; a minimised desktop does not count.
    if (!event->spontaneous()) m_openFlag = false;
    QDialog::hideEvent(event);
}

bool TfrmRem::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == sBar || watched == sBarPanel0 || watched == sBarPanel1)) {
        sBarDblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
