#include "survey/frmSurvey.h"

#include "main/app_context.h"
#include "main/frmMain.h"
#include "main/qt_fonts.h"

#include <QHideEvent>

TfrmSurvey::TfrmSurvey(AppContext& context, TfrmMain& main, QWidget* parent)
    : QDialog(parent), m_ctx(context), m_main(main) {
    setObjectName(QStringLiteral("frmSurvey"));
    setWindowTitle(QStringLiteral("Kappo Survey"));
    setFont(gothicFont());
    setWindowFlag(Qt::WindowStaysOnTopHint);
}

void TfrmSurvey::keyFrameReceived(const QString&) {}

void TfrmSurvey::clockTick() {}

void TfrmSurvey::showEvent(QShowEvent* event) {
    m_shownFlag = true;
    QDialog::showEvent(event);
}

void TfrmSurvey::hideEvent(QHideEvent* event) {
    // The close box, Escape and hide() all end here; a minimised desktop does not count.
    if (!event->spontaneous()) m_shownFlag = false;
    QDialog::hideEvent(event);
}
