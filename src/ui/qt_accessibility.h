// SPDX-License-Identifier: MIT
#pragma once
// What assistive tools (screen readers, UI automation) see of our controls.
//
// - Panels that show a value (the port, the speed, the clock, a survey counter) carry a fixed
//   accessible name so that tools can find them; Qt would then read out only that name, so a
//   label with both a name of its own and a text gives its text as description and value.
// - A tool presses a control through its accessible action, and that must run the handler a
//   click runs: check-able push buttons click (Qt would only toggle them, and nothing that
//   listens to clicks would hear it), click panels offer "Press" and "Double-click" for the
//   gestures they answer, and any widget can be given actions of its own.
// - Every action answers the tool at once and runs its handler from the event loop right after:
//   a screen reader waits on that answer, and a handler may open a modal dialog.

#include <QString>
#include <functional>

class QWidget;

// The name of the action that stands for a double-click.
inline const QString kDoubleClickAction = QStringLiteral("Double-click");

// Once per process, before the windows are shown.
void installAccessibility();

// An accessible action of widget that runs handler, from the event loop after the tool's call;
// widget owns it.
void addAccessibleAction(QWidget* widget, const QString& name, std::function<void()> handler);
