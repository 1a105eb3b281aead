// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "core/cp932.h"
#include "session/monitor_file.h"

namespace {

class MonitorFile : public ::testing::Test {
protected:
    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QByteArray contents(const QString& file) const {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(file);
        return f.readAll();
    }

    void put(const QString& file, const QByteArray& bytes) const {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    QTemporaryDir m_dir;
};

TEST_F(MonitorFile, WritesEveryLineEndAsCrLf) {
    struct Case {
        QString text;
        bool lastLineEnded;
        QByteArray bytes;
    };
    const std::vector<Case> cases{
        {QString(), false, QByteArray()},  // an empty monitor: an empty file
        {QString(), true, QByteArray("\r\n")},
        {QStringLiteral("a\nb\nc"), true, QByteArray("a\r\nb\r\nc\r\n")},
        {QStringLiteral("a\nb\nc"), false, QByteArray("a\r\nb\r\nc")},
        {QStringLiteral("a\n\nb"), true, QByteArray("a\r\n\r\nb\r\n")},
        {QStringLiteral("a\n"), false, QByteArray("a\r\n")},  // the same file as "a" ended
        {QStringLiteral(" 0Fh 5Ah\n日本語"), false,
         QByteArray(" 0Fh 5Ah\r\n\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E")},  // UTF-8, no BOM
    };
    for (const Case& c : cases) {
        const QString file = path("out.txt");
        ASSERT_EQ(writeMonitorFile(file, c.text, c.lastLineEnded), QString());
        EXPECT_EQ(contents(file), c.bytes) << qPrintable(c.text);
    }
}

TEST_F(MonitorFile, RoundTripKeepsTextAndLastLineEnd) {
    const std::vector<std::pair<QString, bool>> cases{
        {QStringLiteral("2024/06/01 12:34:56.0000 => 0Fh 5Ah\n受信 ｱｲｳ あい"), true},
        {QStringLiteral("一行目\n\n三行目"), true},
        {QStringLiteral("typed without end"), false},
        {QString(), false},
        {QString(), true},
    };
    for (const auto& [text, ended] : cases) {
        const QString file = path("round.txt");
        ASSERT_EQ(writeMonitorFile(file, text, ended), QString());
        const MonitorFileResult read = readMonitorFile(file);
        ASSERT_TRUE(read.ok) << qPrintable(read.error);
        EXPECT_EQ(read.text, text);
        EXPECT_EQ(read.lastLineEnded, ended) << qPrintable(text);
    }
}

TEST_F(MonitorFile, ReadsAnyLineEnd) {
    struct Case {
        QByteArray bytes;
        QString text;
        bool lastLineEnded;
    };
    const std::vector<Case> cases{
        {"a\r\nb\r\n", QStringLiteral("a\nb"), true},
        {"a\nb\n", QStringLiteral("a\nb"), true},
        {"a\rb\r", QStringLiteral("a\nb"), true},
        {"a\rb\nc\r\nd", QStringLiteral("a\nb\nc\nd"), false},
        {"a\r\n\r\nb", QStringLiteral("a\n\nb"), false},
        {"a\n\rb", QStringLiteral("a\n\nb"), false},  // LF then CR: two line ends
        {"\r\n", QString(), true},
        {"", QString(), false},
        {"\xEF\xBB\xBFx\r\n", QStringLiteral("x"), true},  // a BOM is not text
    };
    for (const Case& c : cases) {
        const QString file = path("in.txt");
        put(file, c.bytes);
        const MonitorFileResult read = readMonitorFile(file);
        ASSERT_TRUE(read.ok) << qPrintable(read.error);
        EXPECT_EQ(read.text, c.text) << c.bytes.toHex().constData();
        EXPECT_EQ(read.lastLineEnded, c.lastLineEnded) << c.bytes.toHex().constData();
        EXPECT_TRUE(read.error.isEmpty());
    }
}

TEST_F(MonitorFile, ReadsCodePage932WhenNotUtf8) {
    if (!cp932Available()) GTEST_SKIP() << "no code page 932 converter in this Qt build";
    const std::vector<std::pair<QByteArray, QString>> cases{
        {QByteArray::fromHex("82A082A20D0A"), QStringLiteral("あい")},
        {QByteArray::fromHex("B1B2B30D0A41"), QStringLiteral("ｱｲｳ\nA")},
        {QByteArray::fromHex("96B382B5"), QStringLiteral("無し")},
    };
    for (const auto& [bytes, text] : cases) {
        const QString file = path("sjis.txt");
        put(file, bytes);
        const MonitorFileResult read = readMonitorFile(file);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.text, text) << bytes.toHex().constData();
    }
}

TEST_F(MonitorFile, UnreadableFilesReportWhy) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("sub")));
    for (const QString& file : {path("missing.txt"), path("sub")}) {
        const MonitorFileResult read = readMonitorFile(file);
        EXPECT_FALSE(read.ok) << qPrintable(file);
        EXPECT_TRUE(read.text.isEmpty());
        EXPECT_TRUE(read.error.contains(file)) << qPrintable(read.error);
        EXPECT_GT(read.error.size(), file.size() + 2) << qPrintable(read.error);
    }
}

TEST_F(MonitorFile, UnwritableTargetsReportWhyAndLeaveNothingBehind) {
    put(path("plain"), "keep");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("sub")));
    for (const QString& file : {path("plain/out.txt"), path("sub"), path("none/out.txt")}) {
        const QString error = writeMonitorFile(file, QStringLiteral("x"), true);
        EXPECT_FALSE(error.isEmpty()) << qPrintable(file);
        EXPECT_TRUE(error.contains(file)) << qPrintable(error);
    }
    EXPECT_EQ(contents(path("plain")), QByteArray("keep"));
    EXPECT_TRUE(QFileInfo(path("sub")).isDir());
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              (QStringList{QStringLiteral("plain"), QStringLiteral("sub")}));
    EXPECT_TRUE(QDir(path("sub")).isEmpty());
}

TEST_F(MonitorFile, FullDeviceFailsWithoutReplacingIt) {
    struct stat before {};
    if (::stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)) {
        GTEST_SKIP() << "no /dev/full here";
    }
    const QString error = writeMonitorFile(QStringLiteral("/dev/full"), QStringLiteral("x"), true);
    EXPECT_FALSE(error.isEmpty());
    struct stat after {};
    ASSERT_EQ(::stat("/dev/full", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));  // still the device, not a file renamed over it
    EXPECT_EQ(after.st_rdev, before.st_rdev);
}

TEST_F(MonitorFile, SavingReplacesAnExistingFile) {
    const QString file = path("log.Txt");
    put(file, QByteArray(1000, 'z'));
    ASSERT_EQ(writeMonitorFile(file, QStringLiteral("short"), true), QString());
    EXPECT_EQ(contents(file), QByteArray("short\r\n"));
}

}  // namespace

namespace {

// Found by fuzzing: a text that itself begins with U+FEFF lost it on the next open.
TEST_F(MonitorFile, LeadingByteOrderMarkCharactersSurviveARoundTrip) {
    const QString file = path("marks.Txt");
    put(file, QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF"));
    const MonitorFileResult first = readMonitorFile(file);
    ASSERT_TRUE(first.ok);
    const QString again = path("again.Txt");
    ASSERT_TRUE(writeMonitorFile(again, first.text, first.lastLineEnded).isEmpty());
    const MonitorFileResult second = readMonitorFile(again);
    EXPECT_EQ(second.text, first.text);
    EXPECT_EQ(second.lastLineEnded, first.lastLineEnded);
}

}  // namespace
