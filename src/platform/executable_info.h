// SPDX-License-Identifier: MIT
#pragma once
// The running executable's path and modification date (the caption shows the date as the
// version).

#include <QDate>
#include <QString>

#include <optional>

struct ExecutableInfo {
    QString path;
    std::optional<QDate> modified;

    [[nodiscard]] static ExecutableInfo current();
};

// "Norvale Term for Orlin  [ Ver.20261208 ]", or the title alone without a date.
[[nodiscard]] QString captionFor(const QString& appTitle, const std::optional<QDate>& date);
