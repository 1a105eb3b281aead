// SPDX-License-Identifier: MIT
#include "platform/executable_info.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

ExecutableInfo ExecutableInfo::current() {
    ExecutableInfo info;
    info.path = QCoreApplication::applicationFilePath();
    const QFileInfo fi(info.path);
    const QDateTime modified = fi.lastModified();
    if (fi.exists() && modified.isValid()) info.modified = modified.date();
    return info;
}

QString captionFor(const QString& appTitle, const std::optional<QDate>& date) {
    if (!date || !date->isValid()) return appTitle;
    return appTitle + QStringLiteral("  [ Ver.") + date->toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(" ]");
}
