// SPDX-License-Identifier: MIT
#include "ui/qt_accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <utility>
#include <vector>

#include "ui/qt_click_panel.h"

namespace {

// The actions given to a widget by addAccessibleAction, kept as its child.
class ExtraActions final : public QObject {
public:
    explicit ExtraActions(QWidget* owner) : QObject(owner) {}
    std::vector<std::pair<QString, std::function<void()>>> actions;
};

const ExtraActions* extraActionsOf(const QWidget* widget) {
    for (QObject* child : widget->children()) {
        if (auto* extra = dynamic_cast<ExtraActions*>(child)) return extra;
    }
    return nullptr;
}

// Runs what an action does from the event loop, once the tool's call has been answered: a tool
// waits on that answer, and a handler that opens anything modal would hold it until that closed.
// Nothing runs if the widget is gone by then, or has been disabled meanwhile.
void runSoon(QWidget* widget, std::function<void()> handler) {
    QMetaObject::invokeMethod(
        widget,
        [widget, run = std::move(handler)] {
            if (widget->isEnabled()) run();
        },
        Qt::QueuedConnection);
}

// One accessible action list over a widget: its own gestures first, then the extra ones.
class ActionsOf {
public:
    explicit ActionsOf(QWidget* widget) : m_widget(widget) {}

    [[nodiscard]] QStringList names() const {
        QStringList out;
        if (auto* panel = qobject_cast<ClickPanel*>(m_widget)) {
            if (panel->actsOnClick()) out << QAccessibleActionInterface::pressAction();
            if (panel->actsOnDoubleClick()) out << kDoubleClickAction;
        }
        if (const ExtraActions* extra = extraActionsOf(m_widget)) {
            for (const auto& [name, handler] : extra->actions) out << name;
        }
        return out;
    }

    bool run(const QString& name) const {
        if (!m_widget->isEnabled()) return true;  // known, but a disabled control does nothing
        if (auto* panel = qobject_cast<ClickPanel*>(m_widget)) {
            if (name == QAccessibleActionInterface::pressAction() && panel->actsOnClick()) {
                runSoon(panel, [panel] { Q_EMIT panel->clicked(); });
                return true;
            }
            if (name == kDoubleClickAction && panel->actsOnDoubleClick()) {
                runSoon(panel, [panel] { Q_EMIT panel->doubleClicked(); });
                return true;
            }
        }
        if (const ExtraActions* extra = extraActionsOf(m_widget)) {
            for (const auto& [actionName, handler] : extra->actions) {
                if (actionName != name) continue;
                runSoon(m_widget, handler);
                return true;
            }
        }
        return false;
    }

private:
    QWidget* m_widget;
};

// Every label: one with a name of its own also reads out its text as description and value.
class NamedValueLabel final : public QAccessibleWidget {
public:
    explicit NamedValueLabel(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    [[nodiscard]] QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const QLabel*>(widget());
        switch (t) {
            case QAccessible::Name:
                return label->accessibleName().isEmpty() ? label->text() : label->accessibleName();
            case QAccessible::Description:
            case QAccessible::Value:
                if (label->accessibleName().isEmpty()) return QAccessibleWidget::text(t);
                return label->text();
            default:
                return QAccessibleWidget::text(t);
        }
    }
    [[nodiscard]] QVector<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation match) const override {
        auto out = QAccessibleWidget::relations(match);
        const auto* label = static_cast<const QLabel*>(widget());
        if ((match & QAccessible::Labelled) && label->buddy() != nullptr) {
            if (QAccessibleInterface* buddy = QAccessible::queryAccessibleInterface(label->buddy()))
                out.append({buddy, QAccessible::Labelled});
        }
        return out;
    }
    [[nodiscard]] QStringList actionNames() const override {
        return ActionsOf(widget()).names() + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (!ActionsOf(widget()).run(name)) QAccessibleWidget::doAction(name);
    }
};

// A status bar, which may answer double-clicks.
class WidgetWithActions final : public QAccessibleWidget {
public:
    WidgetWithActions(QWidget* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}

    [[nodiscard]] QStringList actionNames() const override {
        return ActionsOf(widget()).names() + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (!ActionsOf(widget()).run(name)) QAccessibleWidget::doAction(name);
    }
};

QString withoutMnemonic(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') text.remove(i, 1);  // "&&" keeps one '&'
    }
    return text;
}

// Push buttons: "Press", and for a check-able one "Toggle" too, click the button, so the
// handler that a click runs runs here too, and the caption and all it drives follow. Qt's own
// toggle action would only flip the state. The click comes from the event loop right after the
// call, as for every action here; so does the menu.
class PushButton final : public QAccessibleWidget {
public:
    explicit PushButton(QPushButton* b) : QAccessibleWidget(b, QAccessible::Button) {}

    [[nodiscard]] QAccessible::Role role() const override {
        if (button()->menu() != nullptr) return QAccessible::ButtonMenu;
        return button()->isCheckable() ? QAccessible::CheckBox : QAccessible::Button;
    }
    [[nodiscard]] QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString own = button()->accessibleName();
            return own.isEmpty() ? withoutMnemonic(button()->text()) : own;
        }
        return QAccessibleWidget::text(t);
    }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = button()->isCheckable();
        s.checked = button()->isChecked();
        s.pressed = button()->isDown();
        s.defaultButton = button()->isDefault();
        return s;
    }
    [[nodiscard]] QStringList actionNames() const override {
        QStringList names{QAccessibleActionInterface::pressAction()};
        if (button()->isCheckable()) names << QAccessibleActionInterface::toggleAction();
        if (button()->menu() != nullptr) names << QAccessibleActionInterface::showMenuAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (!button()->isEnabled()) return;
        QPushButton* b = button();
        if (name == QAccessibleActionInterface::showMenuAction() && b->menu() != nullptr) {
            runSoon(b, [b] { b->showMenu(); });
        } else if (name == QAccessibleActionInterface::pressAction() ||
                   (name == QAccessibleActionInterface::toggleAction() && b->isCheckable())) {
            runSoon(b, [b] { b->click(); });
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    [[nodiscard]] QPushButton* button() const { return static_cast<QPushButton*>(widget()); }
};

// By class only: what a control offers is looked up when asked, so an interface made early
// (setting a name makes one while a tool listens) still sees handlers connected later.
QAccessibleInterface* factory(const QString& /*className*/, QObject* object) {
    if (auto* button = qobject_cast<QPushButton*>(object)) return new PushButton(button);
    if (auto* label = qobject_cast<QLabel*>(object)) return new NamedValueLabel(label);
    if (auto* bar = qobject_cast<QStatusBar*>(object))
        return new WidgetWithActions(bar, QAccessible::StatusBar);
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(factory);
}

void addAccessibleAction(QWidget* widget, const QString& name, std::function<void()> handler) {
    auto* extra = const_cast<ExtraActions*>(extraActionsOf(widget));
    if (extra == nullptr) extra = new ExtraActions(widget);
    extra->actions.emplace_back(name, std::move(handler));
}
