// SPDX-License-Identifier: MIT
#include "ui/qt_click_panel.h"

#include <QMetaMethod>
#include <QMouseEvent>

ClickPanel::ClickPanel(const QString& objectName, QWidget* parent) : QLabel(parent) {
    setObjectName(objectName);
    setAccessibleName(objectName);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignCenter);
}

void ClickPanel::mousePressEvent(QMouseEvent* event) {
    // Every press begins a new click; a double-click event may follow it.
    if (event->button() == Qt::LeftButton) m_releaseEndsDoubleClick = false;
    QLabel::mousePressEvent(event);
}

void ClickPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const bool click =
            !m_releaseEndsDoubleClick && rect().contains(event->position().toPoint());
        m_releaseEndsDoubleClick = false;
        if (click) Q_EMIT clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

void ClickPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    // The base passes the event on to mousePressEvent, so it goes first.
    QLabel::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_releaseEndsDoubleClick = true;
        Q_EMIT doubleClicked();
    }
}

bool ClickPanel::actsOnClick() const {
    return isSignalConnected(QMetaMethod::fromSignal(&ClickPanel::clicked));
}

bool ClickPanel::actsOnDoubleClick() const {
    return isSignalConnected(QMetaMethod::fromSignal(&ClickPanel::doubleClicked));
}
