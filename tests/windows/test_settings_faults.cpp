// SPDX-License-Identifier: MIT
// Settings files that are damaged, huge or cannot be written: the terminal starts with the
// defaults it cannot read, and a save that fails says "NG ... " and leaves the old file alone.
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QProcess>

#include "support/main_window_fixture.h"

namespace {

class SettingsFaultTest : public MainWindowTest {};

TEST_F(SettingsFaultTest, UnreadableContentGivesDefaults) {
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131) ^ (i >> 3));
    const std::vector<std::pair<const char*, QByteArray>> cases{
        {"empty", QByteArray()},
        {"binary", garbage},
        {"one 10 MB line", QByteArray(10 * 1024 * 1024, 'x')},
        {"10 MB value",
         "[COMPORT]\r\nPortName=" + QByteArray(10 * 1024 * 1024, 'A') + "\r\nBaudRate=9600\r\n"},
    };
    for (const auto& [name, content] : cases) {
        writeIni(content);
        start();
        EXPECT_EQ(context->settings.link.baudRate,
                  std::string(name) == "10 MB value" ? 9600 : 38400)
            << name;
        window->close();
        EXPECT_TRUE(window->sBarPanel1->text().isEmpty()) << name;
        survey.reset();
        rem.reset();
        window.reset();
        context.reset();
    }
}

TEST_F(SettingsFaultTest, DirectoryInPlaceOfTheFile) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("norvale-term.ini")));
    start();
    EXPECT_EQ(context->settings.link.portName, QStringLiteral("COM1"));
    window->close();
    EXPECT_EQ(window->sBarPanel1->text(), QStringLiteral("NG ... ") + iniPath());
}

// Root ignores file modes, so read-only and full are real file systems: small tmpfs mounts.
class MountedSettingsTest : public MainWindowTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    }
    bool mountTmpfs(const char* options) {
        return ::mount("tmpfs", dir.path().toLocal8Bit().constData(), "tmpfs", 0, options) == 0;
    }
    void TearDown() override { ::umount2(dir.path().toLocal8Bit().constData(), MNT_DETACH); }
};

TEST_F(MountedSettingsTest, FullDiskKeepsTheOldFile) {
    if (!mountTmpfs("size=64k")) GTEST_SKIP() << "tmpfs cannot be mounted here";
    const QByteArray old = "[COMPORT]\r\nPortName=COM7\r\n; a comment the user wrote\r\n";
    writeIni(old);
    // Fill what is left so the new file cannot be written.
    QFile filler(dir.filePath(QStringLiteral("filler")));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    start();
    EXPECT_EQ(context->settings.link.portName, QStringLiteral("COM7"));
    window->close();
    EXPECT_EQ(window->sBarPanel1->text(), QStringLiteral("NG ... ") + iniPath());
    EXPECT_EQ(iniText(), old);
}

TEST_F(MountedSettingsTest, ReadOnlyFileSystemKeepsTheOldFile) {
    const QByteArray old = "[COMPORT]\r\nPortName=COM9\r\n";
    if (!mountTmpfs("size=64k")) GTEST_SKIP() << "tmpfs cannot be mounted here";
    writeIni(old);
    ASSERT_EQ(::mount("tmpfs", dir.path().toLocal8Bit().constData(), nullptr,
                      MS_REMOUNT | MS_RDONLY, nullptr),
              0);
    start();
    EXPECT_EQ(context->settings.link.portName, QStringLiteral("COM9"));
    window->close();
    EXPECT_TRUE(window->sBarPanel1->text().startsWith(QStringLiteral("NG ... ")));
    EXPECT_EQ(iniText(), old);
}

}  // namespace
