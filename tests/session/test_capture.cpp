// SPDX-License-Identifier: MIT
// The capture's line for a received unit and a sent frame: stamp to the millisecond,
// direction, the rendered bytes, CR LF. What the capture will not open, and a disk that stops
// taking its data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "session/capture.h"
#include "platform/safe_file.h"
#include "platform/pty_pair.h"

namespace {

struct LineCase {
    QDateTime at;
    bool received;
    QString rendered;
    QByteArray expected;
};

TEST(CaptureLine, Formats) {
    const QDate day(2026, 12, 9);
    const LineCase cases[] = {
        {QDateTime(day, QTime(3, 4, 5, 6)), true, QStringLiteral(" 0Fh 5Ah"),
         "2026/12/09 03:04:05.006 => 0Fh 5Ah\r\n"},
        {QDateTime(day, QTime(23, 59, 59, 999)), false, QStringLiteral(" 41h 42h"),
         "2026/12/09 23:59:59.999 <= 41h 42h\r\n"},
        // An empty unit still gets its line, so that the cut is seen.
        {QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 0)), true, QString(),
         "2027/01/01 00:00:00.000 =>\r\n"},
        // Mixed rendering keeps its text, in UTF-8.
        {QDateTime(day, QTime(12, 0, 0, 120)), true, QStringLiteral(" 0Fh あ"),
         QStringLiteral("2026/12/09 12:00:00.120 => 0Fh あ\r\n").toUtf8()},
    };
    for (const LineCase& c : cases)
        EXPECT_EQ(Capture::line(c.at, c.received, c.rendered), c.expected) << c.expected.data();
}

// A device, FIFO or folder given as the capture is refused without being opened: an open of
// a serial port toggles DTR and RTS, a watchdog node arms. inotify sees every real open (an
// O_PATH look is none). The settings and monitor files' reader keeps to the same rule.
TEST(CaptureStart, RefusesWhatIsNoRegularFileWithoutOpeningIt) {
    QTemporaryDir dir;
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // With a reader, an open for writing would succeed at once.
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const QString slave = QString::fromStdString(pty->slavePath());
    const QString link = dir.filePath(QStringLiteral("port-link"));
    ASSERT_TRUE(QFile::link(slave, link));

    for (const QString& target : {slave, link, fifo, dir.path()}) {
        SCOPED_TRACE(target.toStdString());
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(target).constData(), IN_OPEN), 0);
        Capture capture;
        EXPECT_EQ(capture.start(target), kNotARegularFile);
        EXPECT_FALSE(capture.running());
        EXPECT_EQ(readRegularFile(target).reason, kNotARegularFile);
        char events[4096];
        EXPECT_LT(::read(watch, events, sizeof events), 0) << "the target was opened";
        ::close(watch);
    }
    ::close(reader);

    // A link to a regular file, or to a name not yet taken, is still followed.
    const QString file = dir.filePath(QStringLiteral("made-through-link.log"));
    const QString dangling = dir.filePath(QStringLiteral("log-link"));
    ASSERT_TRUE(QFile::link(file, dangling));
    for (int round = 0; round < 2; ++round) {
        Capture capture;
        ASSERT_EQ(capture.start(dangling), std::nullopt);
        capture.received(QStringLiteral(" 41h"));
        capture.stop();
    }
    EXPECT_EQ(QFileInfo(file).size(), 2 * (26 + 4 + 2));
}

// A disk that stops taking data (a hung network mount): the buffer stops growing at its bound
// with a reason, stopping waits about a second, not for the disk, and the writer left behind
// finishes whole lines once the disk comes back, after the capture itself is gone.
TEST(CaptureStart, AStalledDiskNeitherGrowsTheBufferNorHoldsUpTheStop) {
    struct Disk {
        std::mutex mutex;
        std::condition_variable cv;
        bool stalled = true;
        int writes = 0;
    };
    auto disk = std::make_shared<Disk>();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stalled.log"));
    auto capture = std::make_unique<Capture>(
        std::function<QDateTime()>{}, [disk](int fd, QByteArrayView data, qsizetype* written) {
            std::unique_lock lock(disk->mutex);
            disk->cv.wait(lock, [&] { return !disk->stalled; });
            ++disk->writes;
            return writeAll(fd, data, written);
        });
    ASSERT_EQ(capture->start(path), std::nullopt);
    const QString unit = QString(QStringLiteral(" 41h")).repeated(1000);
    for (int i = 0; i < 40'000 && !capture->error(); ++i) capture->received(unit);
    ASSERT_EQ(capture->error(), Capture::kDiskStalled);
    const auto size = capture->size();
    EXPECT_LT(size, 2 * static_cast<std::uint64_t>(Capture::kMaxPending));
    EXPECT_GE(size, static_cast<std::uint64_t>(Capture::kMaxPending));

    const auto before = std::chrono::steady_clock::now();
    capture->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
    capture.reset();

    {
        const std::lock_guard lock(disk->mutex);
        disk->stalled = false;
    }
    disk->cv.notify_all();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (QFileInfo(path).size() < static_cast<qint64>(size) &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(QFileInfo(path).size(), static_cast<qint64>(size));
    // The writer closes the file and ends right after its last write.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

}  // namespace

#include "core/pcapng_blocks.h"
#include "support/pcapng_reader.h"

namespace {

// A .pcapng capture: section and interface first, then one packet per unit and frame in order,
// the direction in the flags, a note as a comment on a packet with no bytes; a .log beside it
// stays text. Appending starts a section of its own.
TEST(CapturePcapng, WritesSectionInterfaceAndOnePacketPerUnitAndFrame) {
    QTemporaryDir dir;
    const QDateTime at(QDate(2026, 12, 9), QTime(3, 4, 5, 6), Qt::UTC);
    const QString path = dir.filePath(QStringLiteral("a.PCAPNG"));
    for (int round = 0; round < 2; ++round) {
        Capture capture([at] { return at; });
        capture.setInterfaceSource(
            [] { return CaptureInterface{"/dev/ttyUSB0", "38400 8N1", 38400}; });
        ASSERT_EQ(capture.start(path), std::nullopt);
        EXPECT_TRUE(capture.pcapng());
        const std::uint8_t unit[] = {0x0F, 0x5A, 0x13};
        capture.received(QStringLiteral("ignored"), unit);
        capture.sent(QByteArray::fromHex("0f5a0d7d"));
        capture.note(QStringLiteral("script: done"));
        capture.stop();
        EXPECT_EQ(capture.error(), std::nullopt);
        EXPECT_EQ(capture.size(), static_cast<std::uint64_t>(QFileInfo(path).size()));
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    qsizetype rest = -1;
    const auto all = pcapngtest::blocks(f.readAll(), &rest);
    EXPECT_EQ(rest, 0);
    ASSERT_EQ(all.size(), 10);
    for (int section = 0; section < 2; ++section) {
        const int b = section * 5;
        EXPECT_EQ(all[b].type, pcapng::kSectionHeader);
        EXPECT_EQ(all[b + 1].type, pcapng::kInterfaceDescription);
        EXPECT_EQ(pcapngtest::options(all[b + 1].body, 8).value(pcapng::kIfName), "/dev/ttyUSB0");
        const auto in = pcapngtest::packet(all[b + 2]);
        const auto out = pcapngtest::packet(all[b + 3]);
        const auto note = pcapngtest::packet(all[b + 4]);
        EXPECT_EQ(in.data, QByteArray::fromHex("0f5a13"));
        EXPECT_EQ(out.data, QByteArray::fromHex("0f5a0d7d"));
        EXPECT_EQ(note.data, QByteArray());
        EXPECT_EQ(pcapngtest::le32(in.options.value(pcapng::kEpbFlags), 0), 1U);
        EXPECT_EQ(pcapngtest::le32(out.options.value(pcapng::kEpbFlags), 0), 2U);
        EXPECT_EQ(note.options.value(pcapng::kOptComment), "script: done");
        EXPECT_EQ(in.micros, static_cast<std::uint64_t>(at.toMSecsSinceEpoch()) * 1000);
    }

    const QString text = dir.filePath(QStringLiteral("a.log"));
    Capture plain([at] { return at; });
    ASSERT_EQ(plain.start(text), std::nullopt);
    EXPECT_FALSE(plain.pcapng());
    const std::uint8_t unit[] = {0x0F};
    plain.received(QStringLiteral(" 0Fh"), unit);
    plain.stop();
    QFile t(text);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    EXPECT_EQ(t.readAll(), Capture::line(at, true, QStringLiteral(" 0Fh")));
}

// A write the disk cuts short leaves whole blocks only.
TEST(CapturePcapng, AShortWriteIsCutBackToTheLastWholeBlock) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cut.pcapng"));
    Capture capture({}, [](int fd, QByteArrayView data, qsizetype* written) {
        // The disk fills after 200 bytes, inside a packet block.
        const qsizetype take = std::min<qsizetype>(data.size(), 200);
        *written = ::write(fd, data.data(), static_cast<size_t>(take));
        errno = ENOSPC;
        return *written == data.size();
    });
    ASSERT_EQ(capture.start(path), std::nullopt);
    for (int i = 0; i < 20; ++i) capture.sent(QByteArray(7, char(i)));
    capture.stop();
    EXPECT_TRUE(capture.error().has_value());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    qsizetype rest = -1;
    const auto all = pcapngtest::blocks(f.readAll(), &rest);
    EXPECT_EQ(rest, 0);
    EXPECT_GE(all.size(), 2);
    EXPECT_LT(QFileInfo(path).size(), 200);
}

}  // namespace
