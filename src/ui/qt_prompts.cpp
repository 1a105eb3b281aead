// SPDX-License-Identifier: MIT
#include "ui/qt_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
QMessageBox::Icon boxIconFor(Prompts::Icon icon) {
    switch (icon) {
        case Prompts::Icon::None:
            return QMessageBox::NoIcon;
        case Prompts::Icon::Information:
            return QMessageBox::Information;
        case Prompts::Icon::Warning:
            return QMessageBox::Warning;
        case Prompts::Icon::Error:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

bool QtPrompts::ask(const QString& caption, const QString& text, Icon icon) {
    QMessageBox box(boxIconFor(icon), caption, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompts::message(const QString& caption, const QString& text, Icon icon,
                        const QString& detail) {
    QMessageBox box(boxIconFor(icon), caption, text, QMessageBox::Ok, m_parent);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    box.exec();
}

std::optional<QString> QtPrompts::openFileName(const FileChoice& choice) {
    return runFileDialog(choice, false);
}

std::optional<QString> QtPrompts::saveFileName(const FileChoice& choice) {
    return runFileDialog(choice, true);
}

std::optional<QString> QtPrompts::runFileDialog(const FileChoice& choice, bool save) {
    QFileDialog dialog(m_parent);
    dialog.setObjectName(save ? QStringLiteral("dlgSave") : QStringLiteral("dlgOpen"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // "*.*" is every file where these filters come from; here it would need a dot in the name.
    QStringList filters = choice.filters;
    for (QString& f : filters) f.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(choice.defaultSuffix);
    if (!choice.proposedName.isEmpty()) dialog.selectFile(choice.proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
