#include "platform/qt_prompts.h"

#include <QFileDialog>
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

std::optional<QString> QtPrompts::openFileName(const FileChoice& choice) {
    return runFileDialog(choice, false);
}

std::optional<QString> QtPrompts::saveFileName(const FileChoice& choice) {
    return runFileDialog(choice, true);
}

std::optional<QString> QtPrompts::runFileDialog(const FileChoice& choice, bool save) {
    QFileDialog dialog(m_parent);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(choice.filters);
    dialog.setDefaultSuffix(choice.defaultSuffix);
    if (!choice.proposedName.isEmpty()) dialog.selectFile(choice.proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
