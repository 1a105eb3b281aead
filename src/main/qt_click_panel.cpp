#include "main/qt_click_panel.h"

#include <QMouseEvent>

ClickPanel::ClickPanel(const QString& objectName, QWidget* parent) : QLabel(parent) {
    setObjectName(objectName);
    setAccessibleName(objectName);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignCenter);
}

void ClickPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QLabel::mouseReleaseEvent(event);
}

void ClickPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT doubleClicked();
    QLabel::mouseDoubleClickEvent(event);
}
