// SPDX-License-Identifier: MIT
#include "windows/frmSurvey.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "session/app_context.h"
#include "platform/sound.h"
#include "ui/qt_accessibility.h"
#include "ui/qt_fonts.h"
#include "ui/qt_widget_helpers.h"

namespace {

constexpr int kClientWidth = 600;
constexpr int kKeyPanelTop = 16;
constexpr int kKeyPanelHeight = 130;
constexpr int kKeyPanelGap = 8;
constexpr int kSideMargin = 8;
constexpr int kStartButtonHeight = 32;
// Room under the key panels and around the button row: the client height is btnStart's height
// plus the status bar's plus this.
constexpr int kTopPanelExtra = 584;
constexpr int kStatusPanelWidth = 50;
constexpr int kCounterPoints = 48;

// Impact where it is installed; the narrow faces a Linux desktop has keep "  Key No.1" inside the
// left half of its panel.
QFont impactFont(int points) {
    QFont f;
    f.setFamilies({QStringLiteral("Impact"), QStringLiteral("Nimbus Sans Narrow"),
                   QStringLiteral("DejaVu Sans Condensed")});
    f.setPointSize(points);
    return f;
}

QPushButton* button(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = named(new QPushButton(caption, parent), name);
    // Enter in edtTout must not press a button behind the user's back.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

}  // namespace

TfrmSurvey::TfrmSurvey(AppContext& context, MonitorView& monitor, QWidget* parent)
    : QDialog(parent), m_ctx(context), m_monitor(monitor) {
    setObjectName(QStringLiteral("frmSurvey"));
    setFont(gothicFont());
    setWindowFlag(Qt::WindowStaysOnTopHint);
    buildTopPanel();
    buildGrid();
    buildStatusBar();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(pnlTop, 1);
    row->addWidget(sGrid);
    column->addLayout(row, 1);
    column->addWidget(sBar);
    formCreate();
}

void TfrmSurvey::buildTopPanel() {
    pnlTop = named(new QWidget(this), QStringLiteral("pnlTop"));
    auto* column = new QVBoxLayout(pnlTop);
    column->setContentsMargins(kSideMargin, kKeyPanelTop, kSideMargin, 16);
    column->setSpacing(kKeyPanelGap);

    for (int i = 0; i < kSurveyKeys; ++i) {
        const QString number = QString::number(i + 1);
        QLabel* key = named(new QLabel(QStringLiteral("  Key No.") + number, pnlTop),
                            QStringLiteral("pnlKey") + number);
        key->setTextFormat(Qt::PlainText);
        key->setFrameStyle(QFrame::Panel | QFrame::Raised);
        key->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        // The caption must not widen the window; the panel takes the width it is given.
        key->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        QLabel* counter = named(new QLabel(key), QStringLiteral("pnlKct") + number);
        counter->setTextFormat(Qt::PlainText);
        counter->setAccessibleName(QStringLiteral("Key No.") + number + QStringLiteral(" count"));
        counter->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        counter->setAlignment(Qt::AlignCenter);
        counter->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        counter->setAutoFillBackground(true);
        QPalette colours = counter->palette();
        colours.setColor(QPalette::Window, Qt::black);
        colours.setColor(QPalette::WindowText, Qt::yellow);
        counter->setPalette(colours);
        // Left half for the caption, right half for the counter.
        auto* halves = new QHBoxLayout(key);
        halves->setContentsMargins(6, 6, 6, 6);
        halves->setSpacing(0);
        halves->addStretch(1);
        halves->addWidget(counter, 1);
        pnlKey[static_cast<size_t>(i)] = key;
        pnlKct[static_cast<size_t>(i)] = counter;
        column->addWidget(key);
    }
    // A taller window keeps the key panels at the top and the controls at the bottom.
    column->addStretch(1);

    btnStart = button(QStringLiteral("btnStart"), QStringLiteral("Start"), pnlTop);
    btnStart->setCheckable(true);
    btnStart->setFlat(true);
    btnStart->setFixedSize(96, kStartButtonHeight);
    connect(btnStart, &QPushButton::clicked, this, &TfrmSurvey::btnStartClick);

    prgBar = named(new QProgressBar(pnlTop), QStringLiteral("prgBar"));
    prgBar->setAccessibleName(QStringLiteral("Run progress"));
    prgBar->setTextVisible(false);
    prgBar->setMinimum(0);
    prgBar->setMinimumWidth(60);

    edtTout = named(new QLineEdit(pnlTop), QStringLiteral("edtTout"));
    edtTout->setAccessibleName(QStringLiteral("Run time in seconds"));
    edtTout->setFixedWidth(48);
    edtTout->setAlignment(Qt::AlignRight);
    Label1 = named(new QLabel(QStringLiteral("秒"), pnlTop), QStringLiteral("Label1"));
    Label1->setBuddy(edtTout);

    ckKeyChange = named(new QCheckBox(QStringLiteral("Key Change Enabled"), pnlTop),
                        QStringLiteral("ckKeyChange"));
    ckKeyChange->setChecked(false);

    btnClose = button(QStringLiteral("btnClose"), QStringLiteral("Close"), pnlTop);
    btnClose->setFixedHeight(kStartButtonHeight);
    connect(btnClose, &QPushButton::clicked, this, &TfrmSurvey::btnCloseClick);

    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(8);
    controls->addWidget(btnStart);
    controls->addWidget(prgBar, 1);
    controls->addSpacing(8);
    controls->addWidget(edtTout);
    controls->addSpacing(-4);
    controls->addWidget(Label1);
    controls->addSpacing(8);
    controls->addWidget(ckKeyChange);
    controls->addSpacing(8);
    controls->addWidget(btnClose);
    column->addLayout(controls);
}

void TfrmSurvey::buildGrid() {
    sGrid = named(new QTableWidget(kSurveyRows, kSurveyGridColumns, this), QStringLiteral("sGrid"));
    sGrid->setAccessibleName(QStringLiteral("Transmitters"));
    sGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    sGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    sGrid->setShowGrid(true);
    sGrid->setWordWrap(false);
    // " 99" and "100" must show whole in a 24-pixel column.
    sGrid->setTextElideMode(Qt::ElideNone);
    // Column 0 carries the row numbers, so Qt's own row header would only repeat them.
    sGrid->verticalHeader()->setVisible(false);
    sGrid->verticalHeader()->setMinimumSectionSize(1);
    sGrid->verticalHeader()->setDefaultSectionSize(20);
    sGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = sGrid->horizontalHeader();
    header->setMinimumSectionSize(1);
    header->setDefaultSectionSize(40);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(false);
    for (int column = 0; column < kSurveyGridColumns; ++column) {
        sGrid->setHorizontalHeaderItem(column, new QTableWidgetItem(m_tally.cellText(0, column)));
        for (int row = 1; row <= kSurveyRows; ++row) {
            auto* item = new QTableWidgetItem;
            if (column == 0) {
                // The fixed column looks like a header.
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                item->setBackground(palette().button());
            }
            sGrid->setItem(row - 1, column, item);
        }
    }
    sGrid->setVisible(false);
}

void TfrmSurvey::buildStatusBar() {
    sBar = named(new QStatusBar(this), QStringLiteral("sBar"));
    sBar->setSizeGripEnabled(false);
    sBarPanel0 = named(new QLabel(sBar), QStringLiteral("sBarPanel0"));
    sBarPanel0->setAccessibleName(QStringLiteral("Status"));
    sBarPanel1 = named(new QLabel(sBar), QStringLiteral("sBarPanel1"));
    sBarPanel1->setAccessibleName(QStringLiteral("Maker code"));
    sBar->installEventFilter(this);
    for (QWidget* w : std::initializer_list<QWidget*>{sBar, sBarPanel0, sBarPanel1})
        addAccessibleAction(w, kDoubleClickAction, [this] { sBarDblClick(); });
    for (QLabel* panel : {sBarPanel0, sBarPanel1}) {
        panel->setTextFormat(Qt::PlainText);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // 50 pixels, or what "83h 41h" needs in the font at hand.
        panel->setMinimumWidth(kStatusPanelWidth);
        panel->installEventFilter(this);
        sBar->addWidget(panel);
    }
}

void TfrmSurvey::formCreate() {
    setWindowTitle(QStringLiteral("Kappo Survey"));
    sGrid->setVisible(false);
    for (int i = 0; i < kSurveyKeys; ++i) {
        pnlKey[static_cast<size_t>(i)]->setFixedHeight(kKeyPanelHeight);
        pnlKey[static_cast<size_t>(i)]->setFont(impactFont(kCounterPoints));
        pnlKct[static_cast<size_t>(i)]->setFont(impactFont(kCounterPoints));
    }
    const int clientHeight = btnStart->height() + sBar->sizeHint().height() + kTopPanelExtra;
    pnlTop->resize(kClientWidth, clientHeight - sBar->sizeHint().height());
    resize(kClientWidth, clientHeight);
    edtTout->setText(QStringLiteral("10"));
    reset();
}

bool TfrmSurvey::running() const { return btnStart->isChecked(); }

void TfrmSurvey::keyFrameReceived(const QString& renderedText) {
    const SurveyInputResult result =
        m_tally.keyInput(renderedText, running(), ckKeyChange->isChecked());
    if (result.statusChanged) sBarPanel1->setText(m_tally.statusText());
    if (result.changedRow != 0) showRow(result.changedRow);
    if (result.countersShown) showCounters();
}

void TfrmSurvey::clockTick() {
    if (!running()) return;
    if (runTick(prgBar->value(), m_runMaximum) == RunTick::Advance) {
        prgBar->setValue(prgBar->value() + 1);
        return;
    }
    btnStart->setChecked(false);
    btnStart->setText(QStringLiteral("Start"));
    m_ctx.platform.sound.play(QStringLiteral("chimes.wav"));
}

void TfrmSurvey::btnStartClick() {
    // The click has already toggled the button. Raising it during a run ends the run early and
    // keeps what was counted; a reset here would throw the survey away.
    if (!running()) {
        btnStart->setText(QStringLiteral("Start"));
        return;
    }
    btnStart->setText(QStringLiteral("Busy"));
    reset();
}

void TfrmSurvey::btnCloseClick() { close(); }

void TfrmSurvey::sBarDblClick() {
    if (sGrid->isVisible()) {
        const int width = pnlTop->width();
        sGrid->setVisible(false);
        // The window's minimum width still counts the grid until the layout is redone.
        layout()->activate();
        resize(width, height());
    } else {
        const int pane = surveyGridPaneWidth(sGrid->columnWidth(0), sGrid->columnWidth(1),
                                             sGrid->columnWidth(2));
        const int width = pnlTop->width() + pane;
        sGrid->setFixedWidth(pane);
        sGrid->setVisible(true);
        layout()->activate();
        resize(width, height());
    }
    const QRect screenArea = screen()->geometry();
    move(screenArea.x() + centredLeft(screenArea.width(), frameGeometry().width()), pos().y());
}

void TfrmSurvey::reset() {
    m_tally.reset();
    sBarPanel0->setText({});
    sBarPanel1->setText(m_tally.statusText());
    showCounters();
    gridClear();
    m_runMaximum = runBarMaximum(edtTout->text());
    prgBar->setMaximum(std::max(m_runMaximum, 1));
    prgBar->setValue(0);
    prgBar->setVisible(true);
    m_monitor.clearMonitor();
}

void TfrmSurvey::firstShow() {
    m_shownFlag = true;
    gridSetUp();
    btnStart->setText(QStringLiteral("Start"));
    btnStart->setChecked(false);
    prgBar->setVisible(false);
}

void TfrmSurvey::stop() {
    btnStart->setText(QStringLiteral("Start"));
    btnStart->setChecked(false);
    prgBar->setVisible(false);
    m_shownFlag = false;
}

void TfrmSurvey::gridSetUp() {
    for (int column = 0; column < kSurveyGridColumns; ++column)
        sGrid->setColumnWidth(column, kSurveyColumnWidths[static_cast<size_t>(column)]);
    for (int row = 1; row <= kSurveyRows; ++row)
        sGrid->item(row - 1, 0)->setText(m_tally.cellText(row, 0));
    gridClear();
}

void TfrmSurvey::gridClear() {
    m_tally.clearGrid();
    for (int row = 1; row <= kSurveyRows; ++row) showRow(row);
    sGrid->setCurrentCell(0, 1);
}

void TfrmSurvey::showRow(int row) {
    for (int column = 1; column < kSurveyGridColumns; ++column)
        sGrid->item(row - 1, column)->setText(m_tally.cellText(row, column));
}

void TfrmSurvey::showCounters() {
    for (int key = 1; key <= kSurveyKeys; ++key)
        pnlKct[static_cast<size_t>(key - 1)]->setText(m_tally.counterText(key));
}

void TfrmSurvey::centreOnMain() {
    // The survey is taller than a small main window: keep its title bar on the screen.
    const QWidget* owner = parentWidget();
    if (owner == nullptr) return;
    placeCentred(*this, owner->frameGeometry().center(),
                 owner->screen() != nullptr ? owner->screen() : screen());
}

void TfrmSurvey::showEvent(QShowEvent* event) {
    // A window restored from the task bar is still shown; only an opening sets up afresh.
    if (!m_shownFlag) {
        firstShow();
        centreOnMain();
    }
    QDialog::showEvent(event);
}

void TfrmSurvey::keyPressEvent(QKeyEvent* event) {
    // Only the close box and btnClose close the window: a stray Escape must not end a run.
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

void TfrmSurvey::hideEvent(QHideEvent* event) {
    // The close box, btnClose and hide() end here; a minimised desktop does not.
    if (!event->spontaneous()) stop();
    QDialog::hideEvent(event);
}

bool TfrmSurvey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == sBar || watched == sBarPanel0 || watched == sBarPanel1)) {
        sBarDblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
