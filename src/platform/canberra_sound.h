// SPDX-License-Identifier: MIT
#pragma once

#include "platform/sound.h"

#include <QStringList>

struct ca_context;

// Looks for the .wav in a sounds/ folder beside the executable, then in the XDG data dirs'
// sounds/, and falls back to a freedesktop sound-theme event of similar meaning.
class CanberraSound final : public Sound {
public:
    explicit CanberraSound(QStringList searchDirs);
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    void play(const QString& wavName) override;

    [[nodiscard]] static QStringList defaultSearchDirs(const QString& executableDir);
    [[nodiscard]] QString findFile(const QString& wavName) const;
    [[nodiscard]] static QString themeEventFor(const QString& wavName);

private:
    QStringList m_dirs;
    ca_context* m_context = nullptr;
};
