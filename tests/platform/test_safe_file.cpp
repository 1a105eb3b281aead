// SPDX-License-Identifier: MIT
// Replacing and reading the files the user names, where the file system or the file's owner
// gets in the way: a full disk, a folder that cannot take a temporary file, FIFOs, other users.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

#include "platform/safe_file.h"
#include "session/monitor_file.h"

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
constexpr gid_t kShared = 100;  // "users" on Debian; any group nobody is not in by default

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

struct stat statOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return st;
}

// Runs body in a child with the given user, group and extra groups; its exit code: 0 for
// true, 1 for false.
int asUser(uid_t uid, gid_t gid, std::vector<gid_t> groups, const std::function<bool()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 ||
            ::setuid(uid) != 0)
            ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SafeFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    }
    [[nodiscard]] QString path(const char* name) const {
        return dir.filePath(QString::fromUtf8(name));
    }
    [[nodiscard]] QStringList entries(const QString& in) const {
        return QDir(in).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
    }
    QTemporaryDir dir;
};

// A full disk and a folder that takes no temporary file: the old log stays whole, nothing is
// left behind, and the reason is the system's.
TEST_F(SafeFileTest, AFailedReplaceLeavesTheOldFileWholeAndSaysWhy) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a small tmpfs and another user";
    const QString small = path("small");
    ASSERT_TRUE(QDir().mkpath(small));
    const QByteArray smallPath = QFile::encodeName(small);
    if (::mount("tmpfs", smallPath.constData(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const QString log = small + QStringLiteral("/monitor.Txt");
    const QByteArray old(8 * 1024, 'o');
    put(log, old);
    const QString error = writeMonitorFile(log, QString(12 * 1024, u'n'), true);
    EXPECT_TRUE(error.endsWith(QStringLiteral("No space left on device"))) << qPrintable(error);
    EXPECT_EQ(contents(log), old);
    EXPECT_EQ(entries(small), QStringList{QStringLiteral("monitor.Txt")});
    ::umount(smallPath.constData());

    // Writable by its owner, in a folder that is not: refused, never rewritten in place.
    const QString locked = path("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString theirs = locked + QStringLiteral("/theirs.Txt");
    put(theirs, "old\r\n");
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), kNobody, kNogroup), 0);
    const int rc = asUser(kNobody, kNogroup, {}, [&] {
        const QString e = writeMonitorFile(theirs, QStringLiteral("new"), true);
        return e.endsWith(QStringLiteral("Permission denied"));
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(contents(theirs), "old\r\n");
}

// FIFOs (and anything else that is not a regular file) are refused at once on both sides.
TEST_F(SafeFileTest, FifosAreRefusedWithoutWaiting) {
    const QString fifo = path("pipe.Txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    const MonitorFileResult read = readMonitorFile(fifo);
    EXPECT_FALSE(read.ok);
    EXPECT_TRUE(read.error.contains(QStringLiteral("not a regular file")))
        << qPrintable(read.error);
    const QString written = writeMonitorFile(fifo, QStringLiteral("x"), true);
    EXPECT_TRUE(written.contains(QStringLiteral("not a regular file"))) << qPrintable(written);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    const QString device = QStringLiteral("/dev/null");
    EXPECT_FALSE(readMonitorFile(device).ok);
    EXPECT_FALSE(writeMonitorFile(device, QStringLiteral("x"), true).isEmpty());
}

// Owner and group survive a save by root, each on its own when only one can be set, and a
// set-group-ID folder's group wins.
TEST_F(SafeFileTest, OwnerAndGroupAreKeptAsFarAsTheSaverMay) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play other users";
    const QString log = path("user.Txt");
    put(log, "x");
    const QByteArray logPath = QFile::encodeName(log);
    ASSERT_EQ(::chown(logPath.constData(), kNobody, kNogroup), 0);
    ASSERT_EQ(::chmod(logPath.constData(), 0600), 0);
    ASSERT_TRUE(replaceFileContents(log, "by root"));
    EXPECT_EQ(statOf(log).st_uid, kNobody);
    EXPECT_EQ(statOf(log).st_gid, kNogroup);
    EXPECT_EQ(statOf(log).st_mode & 07777, 0600U);

    // A group-shared folder: another member saves; the group stays, the owner cannot.
    const QString shared = path("shared");
    ASSERT_TRUE(QDir().mkpath(shared));
    const QByteArray sharedPath = QFile::encodeName(shared);
    ASSERT_EQ(::chmod(sharedPath.constData(), 0777), 0);
    const QString ini = shared + QStringLiteral("/term.ini");
    put(ini, "x");
    const QByteArray iniPath = QFile::encodeName(ini);
    ASSERT_EQ(::chown(iniPath.constData(), 1, kShared), 0);
    ASSERT_EQ(::chmod(iniPath.constData(), 0666), 0);
    EXPECT_EQ(asUser(kNobody, kNogroup, {kNogroup, kShared},
                     [&] { return replaceFileContents(ini, "by a member").ok; }),
              0);
    EXPECT_EQ(statOf(ini).st_uid, kNobody);
    EXPECT_EQ(statOf(ini).st_gid, kShared);
    EXPECT_EQ(statOf(ini).st_mode & 0777, 0666U);

    // In a set-group-ID folder the folder's group is the file's.
    ASSERT_EQ(::chown(sharedPath.constData(), 0, kShared), 0);
    ASSERT_EQ(::chmod(sharedPath.constData(), 02777), 0);
    ASSERT_EQ(::chown(iniPath.constData(), kNobody, kNogroup), 0);
    ASSERT_TRUE(replaceFileContents(ini, "in a setgid folder"));
    EXPECT_EQ(statOf(ini).st_gid, kShared);
    EXPECT_EQ(statOf(ini).st_uid, kNobody);
}

}  // namespace
