// SPDX-License-Identifier: MIT
// The single-instance rule on real local sockets: where the socket may live, whose listener
// counts, and the hand-over between two instances.
#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/child_listener.h"

namespace {

QString uniqueTitle() { return QStringLiteral("Norvale test ") + QUuid::createUuid().toString(); }

// No XDG_RUNTIME_DIR and a TMPDIR of its own for one test, both restored afterwards.
class FolderEnv {
public:
    FolderEnv() {
        for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"})
            m_saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        qunsetenv("XDG_RUNTIME_DIR");
    }
    ~FolderEnv() {
        for (const auto& s : m_saved) {
            if (s.set)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
        }
    }
    QTemporaryDir tmp;

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool set;
    };
    std::vector<Saved> m_saved;
};

TEST(SingleInstance, SecondProcessRaisesTheFirst) {
    const FolderEnv env;
    const QString title = uniqueTitle();
    SingleInstance first(title);
    SingleInstance second(title);
    EXPECT_FALSE(first.notifyRunning(200)) << "nobody is running yet";
    ASSERT_TRUE(first.listen());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    EXPECT_TRUE(second.notifyRunning());
    EXPECT_TRUE(raised.wait(2000));
}

TEST(SingleInstance, StaleSocketOfACrashedProcessDoesNotBlockStart) {
    const FolderEnv env;
    const QString title = uniqueTitle();
    const QString path = SingleInstance(title).serverName();
    ASSERT_FALSE(path.isEmpty());
    // A bound but never listening socket file is what a crash leaves behind.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = path.toLocal8Bit();
    ASSERT_LT(static_cast<std::size_t>(p.size()), sizeof addr.sun_path);
    std::copy(p.begin(), p.end(), addr.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);

    SingleInstance next(title);
    EXPECT_FALSE(next.notifyRunning(200));
    EXPECT_TRUE(next.listen());
}

TEST(SingleInstance, NamesDifferPerTitle) {
    EXPECT_NE(SingleInstance::socketFileNameFor(QStringLiteral("A")),
              SingleInstance::socketFileNameFor(QStringLiteral("B")));
    EXPECT_EQ(SingleInstance::socketFileNameFor(QStringLiteral("A")),
              SingleInstance::socketFileNameFor(QStringLiteral("A")));
}

// What a folder is made to be before privateFolder() looks at it.
enum class Folder { Absent, Private, Open, Link, OtherUser, Relative };

void make(const QString& path, Folder kind) {
    const QByteArray p = QFile::encodeName(path);
    switch (kind) {
    case Folder::Absent:
    case Folder::Relative: return;
    case Folder::Link:
        ASSERT_EQ(::mkdir((p + "-target").constData(), 0700), 0);
        ASSERT_EQ(::symlink((p + "-target").constData(), p.constData()), 0);
        return;
    case Folder::Private:
    case Folder::Open:
    case Folder::OtherUser:
        ASSERT_EQ(::mkdir(p.constData(), 0700), 0);
        if (kind == Folder::Open) {
            ASSERT_EQ(::chmod(p.constData(), 0777), 0);
        }
        if (kind == Folder::OtherUser) {
            ASSERT_EQ(::chown(p.constData(), kOtherUid, kOtherUid), 0);
        }
        return;
    }
}

TEST(SingleInstance, TakesOnlyAFolderThatIsOursAndPrivate) {
    enum class Chosen { Runtime, Own, None };
    struct Row {
        const char* name;
        std::optional<Folder> runtime;  // nullopt: XDG_RUNTIME_DIR unset
        Folder own;                     // $TMPDIR/norvale-term-<uid> before the start
        Chosen chosen;
    };
    const Row rows[] = {
        {"runtime private", Folder::Private, Folder::Absent, Chosen::Runtime},
        {"runtime unset", std::nullopt, Folder::Absent, Chosen::Own},
        {"runtime absent", Folder::Absent, Folder::Absent, Chosen::Own},
        {"runtime relative", Folder::Relative, Folder::Absent, Chosen::Own},
        {"runtime open to all", Folder::Open, Folder::Absent, Chosen::Own},
        {"runtime a link", Folder::Link, Folder::Absent, Chosen::Own},
        {"runtime of another user", Folder::OtherUser, Folder::Absent, Chosen::Own},
        {"own folder kept", std::nullopt, Folder::Private, Chosen::Own},
        {"own folder open to all", std::nullopt, Folder::Open, Chosen::None},
        {"own folder a link", Folder::Open, Folder::Link, Chosen::None},
        {"own folder of another user", std::nullopt, Folder::OtherUser, Chosen::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool needsRoot = row.runtime == Folder::OtherUser || row.own == Folder::OtherUser;
        if (needsRoot && ::geteuid() != 0) continue;
        const FolderEnv env;
        const QString runtime = row.runtime == Folder::Relative
                                    ? QStringLiteral("run")
                                    : env.tmp.filePath(QStringLiteral("run"));
        const QString own = env.tmp.filePath(QStringLiteral("norvale-term-%1").arg(::geteuid()));
        if (row.runtime) {
            make(runtime, *row.runtime);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        }
        make(own, row.own);

        QStringList notes;
        const QString folder = SingleInstance::privateFolder(&notes);
        const QString expected = row.chosen == Chosen::Runtime ? runtime
                                 : row.chosen == Chosen::Own   ? own
                                                               : QString();
        EXPECT_EQ(folder, expected);
        const bool fellBack = row.runtime && row.chosen != Chosen::Runtime;
        EXPECT_EQ(notes.size(), (fellBack ? 1 : 0) + (row.chosen == Chosen::None ? 1 : 0))
            << notes.join(u'|').toStdString();
        if (row.chosen == Chosen::Own) {
            struct stat st {};
            ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
        }
    }
}

// A listener of another user on our own socket's path (only root can put it there) is no
// running terminal of ours: it is ignored, said so, and the socket taken over.
TEST(SingleInstance, ListenerOfAnotherUserIsNotARunningInstance) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    const FolderEnv env;
    const QString title = uniqueTitle();
    SingleInstance next(title);
    const ChildListener squatter(next.serverName(), kOtherUid);
    ASSERT_TRUE(squatter.listening());
    EXPECT_FALSE(next.notifyRunning(500));
    const QStringList notes = next.takeNotes();
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(QStringLiteral("belongs to user %1").arg(kOtherUid)))
        << notes[0].toStdString();
    ASSERT_TRUE(next.listen());
    SingleInstance later(title);
    EXPECT_TRUE(later.notifyRunning()) << "the socket is ours now";
}

}  // namespace
