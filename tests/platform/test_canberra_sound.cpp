// SPDX-License-Identifier: MIT
// Where the judging sounds come from: a .wav found case-blind in the search folders, else a
// sound-theme event, one of its own for each sound so that they stay apart by ear.
#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include "platform/canberra_sound.h"

namespace {

TEST(CanberraSoundTest, FilesAreFoundCaseBlindAndEachSoundHasItsOwnEvent) {
    QTemporaryDir first;
    QTemporaryDir second;
    QFile f(second.filePath(QStringLiteral("CHIMES.WAV")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const CanberraSound sound({first.path(), second.path()});
    EXPECT_EQ(sound.findFile(QStringLiteral("chimes.wav")), f.fileName());
    EXPECT_EQ(sound.findFile(QStringLiteral("tada.wav")), QString());

    QSet<QString> events;
    for (const char* name : {"chimes.wav", "tada.wav", "chord.wav", "ding.wav"})
        events.insert(CanberraSound::themeEventFor(QString::fromLatin1(name)));
    EXPECT_EQ(events.size(), 4);
    EXPECT_EQ(CanberraSound::themeEventFor(QStringLiteral("TADA.WAV")), QStringLiteral("complete"));
}

}  // namespace
