#include "rem/frmRem.h"

#include "main/qt_fonts.h"

TfrmRem::TfrmRem(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmRem"));
    setWindowTitle(QStringLiteral("Remocon Panel"));
    setFont(gothicFont());
    setWindowFlag(Qt::WindowStaysOnTopHint);
}
