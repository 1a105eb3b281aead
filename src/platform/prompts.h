// SPDX-License-Identifier: MIT
#pragma once
// Message boxes and file dialogs, behind an interface so that tests never block on one.

#include <QString>
#include <QStringList>

#include <optional>

class Prompts {
public:
    enum class Icon { None, Information, Warning, Error };

    struct FileChoice {
        QString proposedName;   // the name the dialog starts with (may be empty)
        QString defaultSuffix;  // added to a name typed without an extension
        QStringList filters;    // "ﾃｷｽﾄﾌｧｲﾙ (*.Txt)", first one selected
    };

    virtual ~Prompts() = default;
    // detail: an optional second paragraph (the system's reason for a failure).
    virtual void message(const QString& caption, const QString& text, Icon icon,
                         const QString& detail = {}) = 0;
    // A Yes/No question; true only for Yes.
    virtual bool ask(const QString& caption, const QString& text, Icon icon) = 0;
    // The chosen file's full path, or nothing when the user cancelled. The save dialog asks
    // before it lets the user pick an existing file.
    virtual std::optional<QString> openFileName(const FileChoice& choice) = 0;
    virtual std::optional<QString> saveFileName(const FileChoice& choice) = 0;
};
