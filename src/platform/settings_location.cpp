// SPDX-License-Identifier: MIT
#include "platform/settings_location.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "platform/settings_file.h"

QString settingsLocation(const SettingsLocationFacts& facts) {
    if (facts.existsBeside || (facts.folderWritable && !facts.systemFolder))
        return facts.besideExecutable;
    // A relative XDG_CONFIG_HOME is invalid by the base directory rules and is ignored.
    QString base = facts.xdgConfigHome;
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir(facts.home).filePath(QStringLiteral(".config"));
    return QDir(base).filePath(QStringLiteral("norvale-term/norvale-term.ini"));
}

QString settingsLocationFor(const QString& executablePath) {
    SettingsLocationFacts facts;
    facts.besideExecutable = settingsPathFor(executablePath);
    facts.existsBeside = QFileInfo::exists(facts.besideExecutable);
    const QString folder = QFileInfo(facts.besideExecutable).absolutePath();
    facts.folderWritable = ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
    for (const char* prefix : {"/usr/", "/bin/", "/sbin/"}) {
        if (folder.startsWith(QLatin1String(prefix)) || folder + u'/' == QLatin1String(prefix))
            facts.systemFolder = true;
    }
    facts.xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    facts.home = QDir::homePath();
    return settingsLocation(facts);
}
