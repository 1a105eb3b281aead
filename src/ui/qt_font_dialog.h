// SPDX-License-Identifier: MIT
#pragma once
// The monitor's font dialog: Qt's own font dialog with a colour list in its effects group, as
// the desktop font dialog the terminal was designed with has, so that the monitor's text colour
// is chosen with its font.

#include <QColor>
#include <QFont>
#include <array>
#include <optional>

class QFontDialog;
class QWidget;

struct MonitorFont {
    QFont font;
    QColor colour;
    bool operator==(const MonitorFont&) const = default;
};

// The sixteen colours of the desktop font dialog, in its order, with their names.
struct NamedColour {
    const char* name;
    QColor colour;
};
[[nodiscard]] const std::array<NamedColour, 16>& fontDialogColours();

// Builds the dialog (not shown) with current loaded; the colour list is "cmbFontColour".
[[nodiscard]] QFontDialog* buildMonitorFontDialog(const MonitorFont& current, QWidget* parent);
// The choice in a dialog built above.
[[nodiscard]] MonitorFont chosenMonitorFont(const QFontDialog& dialog);

// Shows the dialog; nothing when the user cancels.
[[nodiscard]] std::optional<MonitorFont> chooseMonitorFont(const MonitorFont& current,
                                                           QWidget* parent);
