#include "main/qt_combo_habits.h"

#include <QComboBox>
#include <QEvent>

namespace {

// One filter for every box; it holds no state.
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
    static WheelGuard* guard = new WheelGuard;  // lives as long as the program
    box->setFocusPolicy(Qt::StrongFocus);
    box->installEventFilter(guard);
}
