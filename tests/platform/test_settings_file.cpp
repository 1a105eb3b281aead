// SPDX-License-Identifier: MIT
// The settings file against files other programs may have left behind, and saves that must
// either fully succeed or leave the old file exactly as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <climits>

#include "platform/safe_file.h"
#include "platform/settings_file.h"

namespace {

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<unreadable>";
    return f.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    [[nodiscard]] QString path(const QString& name = QStringLiteral("term.ini")) const {
        return m_dir.filePath(name);
    }
    // Everything in the directory, so a leftover temporary shows up.
    [[nodiscard]] QStringList entries() const {
        return QDir(m_dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name);
    }
    Settings loadText(const QByteArray& text) {
        writeBytes(path(), text);
        return loadSettings(path());
    }

    QTemporaryDir m_dir;
};

const QByteArray kDefaultsFile =
    "[COMPORT]\r\n"
    "PortName=COM1\r\n"
    "BaudRate=38400\r\n"
    "ByteSize=8\r\n"
    "StopBits=1\r\n"
    "Parity__=NONE\r\n"
    "SendHead=\x96\xb3\x82\xb5\r\n"
    "SendDlmt=\x96\xb3\x82\xb5\r\n"
    "RecvHead=\x96\xb3\x82\xb5\r\n"
    "RecvDlmt=\x96\xb3\x82\xb5\r\n"
    "RecvTout=100\r\n"
    "LFSize__=32\r\n"
    "[QL-UNIT]\r\n"
    "RFch____=0\r\n"
    "RFpw____=15\r\n"
    "SysID___=0x0000\r\n"
    "ProID___=0x0000\r\n";

TEST(SettingsPathFor, ReplacesOnlyTheFileExtension) {
    const struct {
        const char* exe;
        const char* ini;
    } cases[] = {
        {"/opt/norvale/term", "/opt/norvale/term.ini"},
        {"/opt/norvale/term.exe", "/opt/norvale/term.ini"},
        {"/opt/v1.2/term", "/opt/v1.2/term.ini"},
        {"/opt/a/term.tar.gz", "/opt/a/term.tar.ini"},
        {"/opt/a/term.", "/opt/a/term.ini"},
        {"/opt/a/.term", "/opt/a/.term.ini"},
        {"term.bin", "term.ini"},
        {"./term", "./term.ini"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(settingsPathFor(QString::fromUtf8(c.exe)), QString::fromUtf8(c.ini)) << c.exe;
    }
}

TEST_F(SettingsFileTest, MissingOrUnusableFileGivesDefaults) {
    EXPECT_EQ(loadSettings(path()), Settings{});
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("dir.ini")));
    EXPECT_EQ(loadSettings(path(QStringLiteral("dir.ini"))), Settings{});
    // A FIFO would block a plain open() forever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("fifo.ini"))).constData(), 0600), 0);
    EXPECT_EQ(loadSettings(path(QStringLiteral("fifo.ini"))), Settings{});
}

TEST_F(SettingsFileTest, DefaultsFileMatchesDefaults) {
    EXPECT_EQ(loadText(kDefaultsFile), Settings{});
    ASSERT_TRUE(saveSettings(path(QStringLiteral("fresh.ini")), Settings{}));
    EXPECT_EQ(readBytes(path(QStringLiteral("fresh.ini"))), kDefaultsFile);
}

TEST_F(SettingsFileTest, LoadsEveryKey) {
    const Settings s = loadText(
        "[COMPORT]\nPortName=/dev/ttyUSB0\nBaudRate=115200\nByteSize=7\nStopBits=2\n"
        "Parity__=EVEN\nSendHead=STX\nSendDlmt=CR+LF\nRecvHead=\xcc\xa7\xb2\xd9\n"
        "RecvDlmt=LF\nRecvTout=250\nLFSize__=16\n"
        "[QL-UNIT]\nRFch____=3\nRFpw____=7\nSysID___=0x12AB\nProID___=0xCD34\n");
    Settings expected;
    expected.link = {QStringLiteral("/dev/ttyUSB0"),
                     115200,
                     7,
                     2,
                     QStringLiteral("EVEN"),
                     QStringLiteral("STX"),
                     QStringLiteral("CR+LF"),
                     QStringLiteral("ﾌｧｲﾙ"),
                     QStringLiteral("LF"),
                     250,
                     64};
    expected.module = {3, 7, 0x12, 0xAB, 0xCD, 0x34};
    EXPECT_EQ(s, expected);
}

TEST_F(SettingsFileTest, IntegerKeysFallBackOnlyWhenUnreadable) {
    const struct {
        const char* value;
        int baud;
    } cases[] = {
        {"abc", 38400},  {"", 38400}, {"9600 baud", 38400},   {"0x9600", 38400},
        {"$2580", 9600}, {"-1", -1},  {"  \"1200\"  ", 1200},
    };
    for (const auto& c : cases) {
        const Settings s = loadText(QByteArray("[COMPORT]\r\nBaudRate=") + c.value + "\r\n");
        EXPECT_EQ(s.link.baudRate, c.baud) << c.value;
    }
}

TEST_F(SettingsFileTest, LineSizeIsStoredInBytes) {
    const struct {
        const char* stored;
        int width;
        const char* savedBack;
    } cases[] = {
        {"25", 100, "25"},
        {"0", 0, "0"},
        // Saturates in whole bytes rather than overflowing, so it saves back as it loaded.
        {"2147483647", INT_MAX / 4 * 4, "536870911"},
        {"-2147483648", -(INT_MAX / 4) * 4, "-536870911"},
    };
    for (const auto& c : cases) {
        const Settings s = loadText(QByteArray("[COMPORT]\r\nLFSize__=") + c.stored + "\r\n");
        EXPECT_EQ(s.link.lineWidth, c.width) << c.stored;
        ASSERT_TRUE(saveSettings(path(), s));
        EXPECT_TRUE(readBytes(path()).contains(QByteArray("\r\nLFSize__=") + c.savedBack + "\r\n"))
            << c.stored;
    }
    Settings odd;
    odd.link.lineWidth = 131;  // not a multiple of four: the byte count truncates
    ASSERT_TRUE(saveSettings(path(), odd));
    EXPECT_EQ(loadSettings(path()).link.lineWidth, 128);
}

TEST_F(SettingsFileTest, IdsSplitIntoBytesAndSaveAsHex) {
    const struct {
        const char* stored;
        std::uint8_t hi;
        std::uint8_t lo;
        const char* saved;
    } cases[] = {
        {"0x12AB", 0x12, 0xAB, "0x12AB"},
        {"4660", 0x12, 0x34, "0x1234"},
        {"0x123456", 0x34, 0x56, "0x3456"},
        {"0xab", 0x00, 0xAB, "0x00AB"},
        {"-1", 0xFF, 0xFF, "0xFFFF"},
        {"junk", 0, 0, "0x0000"},
        {"", 0, 0, "0x0000"},
    };
    for (const auto& c : cases) {
        const Settings s = loadText(QByteArray("[QL-UNIT]\r\nSysID___=") + c.stored +
                                    "\r\nProID___=" + c.stored + "\r\n");
        EXPECT_EQ(s.module.sysIdHi, c.hi) << c.stored;
        EXPECT_EQ(s.module.sysIdLo, c.lo) << c.stored;
        EXPECT_EQ(s.module.proIdHi, c.hi) << c.stored;
        EXPECT_EQ(s.module.proIdLo, c.lo) << c.stored;
        ASSERT_TRUE(saveSettings(path(), s));
        const QByteArray saved = readBytes(path());
        EXPECT_TRUE(saved.contains(QByteArray("\r\nSysID___=") + c.saved + "\r\n")) << c.stored;
        EXPECT_TRUE(saved.contains(QByteArray("\r\nProID___=") + c.saved + "\r\n")) << c.stored;
    }
}

TEST_F(SettingsFileTest, EmptyTextIsAValue) {
    const Settings s = loadText("[COMPORT]\r\nPortName=\r\nSendHead=\r\n");
    EXPECT_EQ(s.link.portName, QString());
    EXPECT_EQ(s.link.sendHead, QString());
    EXPECT_EQ(s.link.recvHead, QStringLiteral("無し"));
    ASSERT_TRUE(saveSettings(path(), s));
    EXPECT_EQ(loadSettings(path()), s);
}

TEST_F(SettingsFileTest, PartialFileGetsEveryKeyOnSave) {
    const Settings s = loadText("[COMPORT]\r\nPortName=COM7\r\n");
    Settings expected;
    expected.link.portName = QStringLiteral("COM7");
    EXPECT_EQ(s, expected);
    ASSERT_TRUE(saveSettings(path(), s));
    QByteArray file = kDefaultsFile;
    file.replace("PortName=COM1", "PortName=COM7");
    EXPECT_EQ(readBytes(path()), file);
}

TEST_F(SettingsFileTest, NamesMatchWhateverTheirCase) {
    const Settings s = loadText("[comport]\nportname=COM3\nBAUDRATE=9600\n");
    EXPECT_EQ(s.link.portName, QStringLiteral("COM3"));
    EXPECT_EQ(s.link.baudRate, 9600);
    ASSERT_TRUE(saveSettings(path(), s));
    const QByteArray saved = readBytes(path());
    EXPECT_TRUE(saved.startsWith("[comport]\r\nportname=COM3\r\nBAUDRATE=9600\r\nByteSize=8\r\n"));
    EXPECT_EQ(saved.count("COMPORT"), 0);  // no second section for the same name
}

TEST_F(SettingsFileTest, SaveKeepsEverythingForeignInOrder) {
    const QByteArray before =
        "; written by hand\r\n"
        "[Window]\r\n"
        "Left=10\r\n"
        "\r\n"
        "[COMPORT]\r\n"
        "Extra=keep me\r\n"
        "PortName=COM2\r\n"
        "; note on the port\r\n"
        "\r\n"
        "[Tail]\r\n"
        "z=\x93\xfa\r\n";
    writeBytes(path(), before);
    Settings s;
    s.link.portName = QStringLiteral("COM9");
    ASSERT_TRUE(saveSettings(path(), s));
    const QByteArray expected =
        "; written by hand\r\n[Window]\r\nLeft=10\r\n\r\n"
        "[COMPORT]\r\nExtra=keep me\r\nPortName=COM9\r\n; note on the port\r\n"
        "BaudRate=38400\r\nByteSize=8\r\nStopBits=1\r\nParity__=NONE\r\n"
        "SendHead=\x96\xb3\x82\xb5\r\nSendDlmt=\x96\xb3\x82\xb5\r\nRecvHead=\x96\xb3\x82\xb5\r\n"
        "RecvDlmt=\x96\xb3\x82\xb5\r\nRecvTout=100\r\nLFSize__=32\r\n\r\n"
        "[Tail]\r\nz=\x93\xfa\r\n"
        "[QL-UNIT]\r\nRFch____=0\r\nRFpw____=15\r\nSysID___=0x0000\r\nProID___=0x0000\r\n";
    EXPECT_EQ(readBytes(path()), expected);
}

TEST_F(SettingsFileTest, FirstOfDuplicateKeysWinsAndIsTheOneSaved) {
    const Settings s = loadText("[COMPORT]\r\nPortName=COM4\r\nPortName=COM5\r\n");
    EXPECT_EQ(s.link.portName, QStringLiteral("COM4"));
    Settings changed = s;
    changed.link.portName = QStringLiteral("COM6");
    ASSERT_TRUE(saveSettings(path(), changed));
    EXPECT_TRUE(readBytes(path()).startsWith("[COMPORT]\r\nPortName=COM6\r\nPortName=COM5\r\n"));
    EXPECT_EQ(loadSettings(path()).link.portName, QStringLiteral("COM6"));
}

TEST_F(SettingsFileTest, RoundTripsNonDefaultSettings) {
    Settings s;
    s.link = {QStringLiteral("/dev/ttyS1"),
              9600,
              7,
              2,
              QStringLiteral("ODD"),
              QStringLiteral("ﾌｧｲﾙ"),
              QStringLiteral("表示"),
              QStringLiteral(""),
              QStringLiteral("①"),
              0,
              256};
    s.module = {12, -3, 0xFE, 0x01, 0x00, 0x80};
    ASSERT_TRUE(saveSettings(path(), s));
    EXPECT_EQ(loadSettings(path()), s);
}

TEST_F(SettingsFileTest, UnstorableTextFailsWithoutTouchingTheFile) {
    writeBytes(path(), "[COMPORT]\r\nPortName=COM2\r\n");
    for (const QString& bad : {QStringLiteral("COM€"), QStringLiteral("a\nb"),
                               QStringLiteral("a\rb"), QString(QChar(0))}) {
        Settings s;
        s.link.recvDlmt = bad;
        EXPECT_FALSE(saveSettings(path(), s)) << bad.toStdString();
        EXPECT_FALSE(saveSettings(path(QStringLiteral("new.ini")), s)) << bad.toStdString();
    }
    EXPECT_EQ(readBytes(path()), "[COMPORT]\r\nPortName=COM2\r\n");
    EXPECT_EQ(entries(), QStringList{QStringLiteral("term.ini")});
}

TEST_F(SettingsFileTest, UnwritablePlacesFailCleanly) {
    writeBytes(path(QStringLiteral("plain")), "not a directory");
    EXPECT_FALSE(saveSettings(path(QStringLiteral("plain/term.ini")), Settings{}));

    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("term.ini/inside")));
    EXPECT_FALSE(saveSettings(path(), Settings{}));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("term.ini/inside"))).isDir());

    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("fifo.ini"))).constData(), 0600), 0);
    EXPECT_FALSE(saveSettings(path(QStringLiteral("fifo.ini")), Settings{}));
    EXPECT_FALSE(replaceFileContents(path(QStringLiteral("fifo.ini")), "x"));
    EXPECT_FALSE(replaceFileContents(path(), "x"));

    QFile::link(path(QStringLiteral("nowhere.ini")), path(QStringLiteral("dangling.ini")));
    EXPECT_FALSE(saveSettings(path(QStringLiteral("dangling.ini")), Settings{}));

    EXPECT_EQ(readBytes(path(QStringLiteral("plain"))), "not a directory");
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(path(QStringLiteral("fifo.ini"))).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("dangling.ini"), QStringLiteral("fifo.ini"),
                                      QStringLiteral("plain"), QStringLiteral("term.ini")}));
}

// Root writes any file, so the save runs as nobody in a child process when needed.
// Also for root, who may write any file: the file's own mode says the user wants it kept.
TEST_F(SettingsFileTest, ReadOnlyFileIsNotReplaced) {
    const QByteArray old = "[COMPORT]\r\nPortName=OLD\r\n";
    writeBytes(path(), old);
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0444), 0);
    Settings changed;
    changed.link.portName = QStringLiteral("NEW");
    EXPECT_FALSE(saveSettings(path(), changed));
    EXPECT_EQ(readBytes(path()), old);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("term.ini")});
    // Writable for its owner only: replaced as before, mode kept.
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0600), 0);
    EXPECT_TRUE(saveSettings(path(), changed));
    EXPECT_EQ(loadSettings(path()).link.portName, QStringLiteral("NEW"));
    EXPECT_FALSE(QFileInfo(path()).permissions().testFlag(QFileDevice::WriteOther));
}

TEST_F(SettingsFileTest, WriteAllReportsAFullDevice) {
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0) GTEST_SKIP() << "no /dev/full";
    EXPECT_FALSE(writeAll(fd, "data"));
    EXPECT_TRUE(writeAll(fd, ""));
    ::close(fd);
}

// A file size limit makes the write into the temporary fail the way a full disk would.
TEST_F(SettingsFileTest, FailedWriteKeepsOldFileAndLeavesNoTemporary) {
    const QByteArray old = "[COMPORT]\r\nPortName=OLD\r\n";
    writeBytes(path(), old);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = saveSettings(path(), Settings{});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_FALSE(ok);
    EXPECT_EQ(readBytes(path()), old);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("term.ini")});
}

TEST_F(SettingsFileTest, SaveKeepsModeAndSymlink) {
    writeBytes(path(QStringLiteral("real.ini")), "[COMPORT]\r\nPortName=COM2\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path(QStringLiteral("real.ini"))).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("real.ini"), path()));

    ASSERT_TRUE(saveSettings(path(), Settings{}));
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(readBytes(path(QStringLiteral("real.ini"))), kDefaultsFile);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path(QStringLiteral("real.ini"))).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("real.ini"), QStringLiteral("term.ini")}));
}

TEST_F(SettingsFileTest, NewFileFollowsUmask) {
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(saveSettings(path(), Settings{}));
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

}  // namespace

namespace {

// Found by fuzzing: a line size beyond what the width can hold must save back as it loaded.
TEST_F(SettingsFileTest, HugeLineSizeIsStableAcrossSaves) {
    const Settings first = loadText("[COMPORT]\nLFSize__=536870912\n");
    EXPECT_EQ(first.link.lineWidth % 4, 0);
    ASSERT_TRUE(saveSettings(path(), first));
    EXPECT_EQ(loadSettings(path()), first);
    const Settings negative = loadText("[COMPORT]\nLFSize__=-2147483648\n");
    ASSERT_TRUE(saveSettings(path(), negative));
    EXPECT_EQ(loadSettings(path()), negative);
}

}  // namespace

namespace {

// Found by fuzzing: blanks and quotes around a text were lost by a save and a load.
TEST_F(SettingsFileTest, TextsWithOuterBlanksOrQuotesSurviveSaves) {
    for (const char* stored : {"PortName='\"x\"'", "SendDlmt=' x'", "RecvHead=\"a b \""}) {
        const Settings first = loadText(QByteArray("[COMPORT]\n") + stored + "\n");
        ASSERT_TRUE(saveSettings(path(), first));
        EXPECT_EQ(loadSettings(path()), first) << stored;
    }
}

}  // namespace

namespace {

// Bytes with no code page 932 meaning (lone bytes, UTF-8 text) and double-byte codes the code
// page leaves unassigned: a text holding them is kept byte for byte while nobody changes it,
// and never stops the other keys from being saved.
TEST_F(SettingsFileTest, TextsKeepTheirExactBytesAndNeverBlockTheSave) {
    const QByteArray foreign[] = {"\x80", "\xA0", "\xFD", "\xE7\x84\xA1\xE3\x81\x97",
                                  "\x85\x40", "\xEF\x40", "\xFC\xFC", "a\x80z\xFC\xFC"};
    const char* const textKeys[] = {"PortName", "Parity__", "SendHead", "SendDlmt",
                                    "RecvHead", "RecvDlmt"};
    for (const QByteArray& bytes : foreign) {
        QByteArray file = "[COMPORT]\r\n";
        for (const char* key : textKeys) file += QByteArray(key) + '=' + bytes + "\r\n";
        Settings s = loadText(file);
        s.module.rfCh = 7;  // a change elsewhere must still be saved
        ASSERT_TRUE(saveSettings(path(), s)) << bytes.toHex().constData();
        const QByteArray saved = readBytes(path());
        for (const char* key : textKeys) {
            EXPECT_TRUE(saved.contains("\r\n" + QByteArray(key) + '=' + bytes + "\r\n"))
                << key << ' ' << bytes.toHex().constData();
        }
        for (const char* key : {"BaudRate=", "ByteSize=", "StopBits=", "RecvTout=", "LFSize__=",
                                "RFpw____=", "SysID___=", "ProID___="})
            EXPECT_TRUE(saved.contains(key)) << key;
        EXPECT_TRUE(saved.contains("RFch____=7\r\n"));
        EXPECT_EQ(loadSettings(path()), s) << "reads back as it was loaded";
    }
}

}  // namespace

namespace {

// Reconnect is read as any number but 0, and written only once it is on or already in the
// file, so that a file other programs share gains no key of ours behind the user's back.
TEST_F(SettingsFileTest, ReconnectIsReadAndWrittenOnlyWhereInUse) {
    const struct {
        const char* stored;  // the line in the file, or nullptr for none
        bool loaded;
        bool saveAs;
        const char* savedLine;  // what the save leaves in the file, or nullptr for no line
    } cases[] = {
        {nullptr, false, false, nullptr},
        {nullptr, false, true, "Reconnect=1"},
        {"Reconnect=1", true, true, "Reconnect=1"},
        {"Reconnect=1", true, false, "Reconnect=0"},
        {"Reconnect=0", false, false, "Reconnect=0"},
        {"reconnect=2", true, true, "reconnect=1"},
        {"Reconnect=yes", false, false, "Reconnect=0"},
    };
    for (const auto& c : cases) {
        const QByteArray file = kDefaultsFile.left(kDefaultsFile.indexOf("[QL-UNIT]")) +
                                (c.stored ? QByteArray(c.stored) + "\r\n" : QByteArray()) +
                                kDefaultsFile.mid(kDefaultsFile.indexOf("[QL-UNIT]"));
        Settings s = loadText(file);
        const char* row = c.stored ? c.stored : "(none)";
        EXPECT_EQ(s.link.reconnect, c.loaded) << row;
        s.link.reconnect = c.saveAs;
        ASSERT_TRUE(saveSettings(path(), s)) << row;
        const QByteArray saved = readBytes(path());
        if (c.savedLine) {
            EXPECT_TRUE(saved.contains("\r\n" + QByteArray(c.savedLine) + "\r\n[QL-UNIT]"))
                << row << '\n' << saved.constData();
        } else {
            EXPECT_EQ(saved, kDefaultsFile) << row;
        }
        EXPECT_EQ(saved.count("econnect="), c.savedLine ? 1 : 0) << row;
        EXPECT_EQ(loadSettings(path()).link.reconnect, c.saveAs) << row;
    }
}

}  // namespace
