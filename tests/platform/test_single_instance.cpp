// The single-instance rule on real local sockets.
#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <QLocalServer>
#include <QSignalSpy>
#include <QUuid>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString uniqueTitle() { return QStringLiteral("Norvale test ") + QUuid::createUuid().toString(); }

TEST(SingleInstance, SecondProcessRaisesTheFirst) {
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
    const QString title = uniqueTitle();
    // A bound but never listening socket file is what a crash leaves behind.
    QLocalServer probe;
    ASSERT_TRUE(probe.listen(SingleInstance::serverNameFor(title)));
    const QString path = probe.fullServerName();
    probe.close();
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
    EXPECT_NE(SingleInstance::serverNameFor(QStringLiteral("A")),
              SingleInstance::serverNameFor(QStringLiteral("B")));
    EXPECT_EQ(SingleInstance::serverNameFor(QStringLiteral("A")),
              SingleInstance::serverNameFor(QStringLiteral("A")));
}

}  // namespace
