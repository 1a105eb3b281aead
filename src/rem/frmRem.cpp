#include "rem/frmRem.h"

#include "main/app_context.h"
#include "main/qt_fonts.h"

#include <QHideEvent>

TfrmRem::TfrmRem(AppContext& context, QWidget* parent) : QDialog(parent), m_ctx(context) {
    // Every run numbers its frames from 0, counted from the creation of this window.
    m_ctx.sender.resetSequence();
    setObjectName(QStringLiteral("frmRem"));
    setWindowTitle(QStringLiteral("Remocon Panel"));
    setFont(gothicFont());
    setWindowFlag(Qt::WindowStaysOnTopHint);
}

void TfrmRem::keyFrameReceived(const QString&) {}

void TfrmRem::showEvent(QShowEvent* event) {
    m_openFlag = true;
    QDialog::showEvent(event);
}

void TfrmRem::hideEvent(QHideEvent* event) {
    // The close box, Escape and hide() all end here; a minimised desktop does not count.
    if (!event->spontaneous()) m_openFlag = false;
    QDialog::hideEvent(event);
}
