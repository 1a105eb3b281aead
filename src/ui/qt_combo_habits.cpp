// SPDX-License-Identifier: MIT
#include "ui/qt_combo_habits.h"

#include <QComboBox>
#include <QEvent>

namespace {

class WheelGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel) {
            if (auto* box = qobject_cast<QComboBox*>(watched); box && !box->hasFocus()) {
                event->ignore();  // let the window around it scroll instead
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void keepTypedText(QComboBox* box) { box->setCompleter(nullptr); }

void wheelOnlyWithFocus(QComboBox* box) {
    box->setFocusPolicy(Qt::StrongFocus);
    box->installEventFilter(new WheelGuard(box));  // owned by the box
}
