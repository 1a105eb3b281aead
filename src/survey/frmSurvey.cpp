#include "survey/frmSurvey.h"

#include "main/qt_fonts.h"

TfrmSurvey::TfrmSurvey(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSurvey"));
    setWindowTitle(QStringLiteral("Kappo Survey"));
    setFont(gothicFont());
    setWindowFlag(Qt::WindowStaysOnTopHint);
}
