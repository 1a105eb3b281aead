// SPDX-License-Identifier: MIT
#include "platform/canberra_sound.h"

#include <canberra.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdint>

CanberraSound::CanberraSound(QStringList searchDirs) : m_dirs(std::move(searchDirs)) {
    if (ca_context_create(&m_context) != CA_SUCCESS) m_context = nullptr;
}

CanberraSound::~CanberraSound() {
    if (m_context) ca_context_destroy(m_context);
}

QStringList CanberraSound::defaultSearchDirs(const QString& executableDir) {
    QStringList dirs{QDir(executableDir).filePath(QStringLiteral("sounds"))};
    for (const QString& d : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        dirs << QDir(d).filePath(QStringLiteral("sounds"));
    return dirs;
}

QString CanberraSound::findFile(const QString& wavName) const {
    for (const QString& dir : m_dirs) {
        const QDir d(dir);
        // Windows names are case-blind; accept the file whatever its case here.
        for (const QString& entry : d.entryList(QDir::Files)) {
            if (entry.compare(wavName, Qt::CaseInsensitive) == 0) return d.filePath(entry);
        }
    }
    return {};
}

QString CanberraSound::themeEventFor(const QString& wavName) {
    const QString n = wavName.toLower();
    // Four different events: each sound tells the user something different.
    if (n == QLatin1String("chimes.wav")) return QStringLiteral("message-new-instant");
    if (n == QLatin1String("tada.wav")) return QStringLiteral("complete");
    if (n == QLatin1String("chord.wav")) return QStringLiteral("dialog-warning");
    if (n == QLatin1String("ding.wav")) return QStringLiteral("message");
    return QStringLiteral("bell");
}

void CanberraSound::play(const QString& wavName) {
    if (!m_context) return;
    // A new sound cuts the one still playing, as the desktop the kit came from does.
    constexpr std::uint32_t kPlayId = 1;
    ca_context_cancel(m_context, kPlayId);
    const QString file = findFile(wavName);
    // ca_context_play returns at once; playback runs on libcanberra's own thread.
    if (!file.isEmpty()) {
        ca_context_play(m_context, kPlayId, CA_PROP_MEDIA_FILENAME,
                        QFile::encodeName(file).constData(), nullptr);
        return;
    }
    ca_context_play(m_context, kPlayId, CA_PROP_EVENT_ID,
                    themeEventFor(wavName).toUtf8().constData(), nullptr);
}
