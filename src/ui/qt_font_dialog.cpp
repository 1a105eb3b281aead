// SPDX-License-Identifier: MIT
#include "ui/qt_font_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPixmap>
#include <memory>

namespace {

const QString kColourBoxName = QStringLiteral("cmbFontColour");

QIcon swatch(const QColor& colour) {
    QPixmap p(16, 12);
    p.fill(colour);
    return QIcon(p);
}

// The effects group is the one holding the strike-out and underline boxes.
QGroupBox* effectsGroup(QFontDialog& dialog) {
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        if (!group->findChildren<QCheckBox*>().isEmpty()) return group;
    }
    return nullptr;
}

// The sample text sits in the other group box.
void showSampleIn(QFontDialog& dialog, const QColor& colour) {
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        if (!group->findChildren<QCheckBox*>().isEmpty()) continue;
        for (QLineEdit* sample : group->findChildren<QLineEdit*>()) {
            QPalette p = sample->palette();
            p.setColor(QPalette::Text, colour);
            sample->setPalette(p);
        }
    }
}

}  // namespace

const std::array<NamedColour, 16>& fontDialogColours() {
    static const std::array<NamedColour, 16> colours{{
        {"Black", QColor(0, 0, 0)},
        {"Maroon", QColor(128, 0, 0)},
        {"Green", QColor(0, 128, 0)},
        {"Olive", QColor(128, 128, 0)},
        {"Navy", QColor(0, 0, 128)},
        {"Purple", QColor(128, 0, 128)},
        {"Teal", QColor(0, 128, 128)},
        {"Gray", QColor(128, 128, 128)},
        {"Silver", QColor(192, 192, 192)},
        {"Red", QColor(255, 0, 0)},
        {"Lime", QColor(0, 255, 0)},
        {"Yellow", QColor(255, 255, 0)},
        {"Blue", QColor(0, 0, 255)},
        {"Fuchsia", QColor(255, 0, 255)},
        {"Aqua", QColor(0, 255, 255)},
        {"White", QColor(255, 255, 255)},
    }};
    return colours;
}

QFontDialog* buildMonitorFontDialog(const MonitorFont& current, QWidget* parent) {
    // The monitor's font names faces in order of preference; the dialog shows the one in use.
    QFont shown = current.font;
    shown.setFamilies({QFontInfo(current.font).family()});
    auto* dialog = new QFontDialog(shown, parent);
    dialog->setObjectName(QStringLiteral("dlgFont"));
    // The desktop's own dialog would not carry the colour list.
    dialog->setOption(QFontDialog::DontUseNativeDialog);

    auto* colours = new QComboBox(dialog);
    colours->setObjectName(kColourBoxName);
    auto* label = new QLabel(QStringLiteral("&Colour"), dialog);
    label->setBuddy(colours);
    colours->setAccessibleName(QStringLiteral("Colour"));
    for (const NamedColour& c : fontDialogColours())
        colours->addItem(swatch(c.colour), QString::fromLatin1(c.name), c.colour);
    int index = colours->findData(current.colour);
    if (index < 0) {
        colours->addItem(swatch(current.colour), QStringLiteral("Custom"), current.colour);
        index = colours->count() - 1;
    }
    colours->setCurrentIndex(index);
    QObject::connect(colours, &QComboBox::currentIndexChanged, dialog, [dialog, colours] {
        showSampleIn(*dialog, colours->currentData().value<QColor>());
    });
    showSampleIn(*dialog, current.colour);

    if (QGroupBox* effects = effectsGroup(*dialog); effects && effects->layout()) {
        effects->layout()->addWidget(label);
        effects->layout()->addWidget(colours);
    } else if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
        // A layout without the effects group: at the bottom, under the buttons.
        grid->addWidget(label, grid->rowCount(), 0);
        grid->addWidget(colours, grid->rowCount(), 0);
    }
    // Room for more than a handful of faces and sizes in each list.
    dialog->resize(dialog->sizeHint().expandedTo(QSize(600, 460)));
    return dialog;
}

MonitorFont chosenMonitorFont(const QFontDialog& dialog) {
    const auto* colours = dialog.findChild<QComboBox*>(kColourBoxName);
    return {dialog.currentFont(),
            colours ? colours->currentData().value<QColor>() : QColor(Qt::black)};
}

std::optional<MonitorFont> chooseMonitorFont(const MonitorFont& current, QWidget* parent) {
    const std::unique_ptr<QFontDialog> dialog(buildMonitorFontDialog(current, parent));
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    return chosenMonitorFont(*dialog);
}
