#include "rem/frmRem.h"

#include "main/app_context.h"
#include "main/qt_fonts.h"

TfrmRem::TfrmRem(AppContext& context, QWidget* parent) : QDialog(parent), m_ctx(context) {
    // Every run numbers its frames from 0, counted from the creation of this window.
    m_ctx.sender.resetSequence();
    setObjectName(QStringLiteral("frmRem"));
    setWindowTitle(QStringLiteral("Remocon Panel"));
    setFont(gothicFont());
    setWindowFlag(Qt::WindowStaysOnTopHint);
}
