#include "platform/qt_prompts.h"

#include <QMessageBox>

void QtPrompts::message(const QString& caption, const QString& text, Icon icon,
                        const QString& detail) {
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
        case Icon::None: break;
        case Icon::Information: boxIcon = QMessageBox::Information; break;
        case Icon::Warning: boxIcon = QMessageBox::Warning; break;
        case Icon::Error: boxIcon = QMessageBox::Critical; break;
    }
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok, m_parent);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    box.exec();
}
