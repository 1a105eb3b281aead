#include "ui/qt_label_accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace {

class NamedValueLabel final : public QAccessibleWidget {
public:
    explicit NamedValueLabel(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    [[nodiscard]] QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const QLabel*>(widget());
        switch (t) {
            case QAccessible::Name:
                return label->accessibleName();
            case QAccessible::Description:
            case QAccessible::Value:
                return label->text();
            default:
                return QAccessibleWidget::text(t);
        }
    }
};

QAccessibleInterface* labelFactory(const QString& /*className*/, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (label == nullptr || label->accessibleName().isEmpty()) return nullptr;
    return new NamedValueLabel(label);
}

}  // namespace

void installLabelAccessibility() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(labelFactory);
}
