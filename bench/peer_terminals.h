// SPDX-License-Identifier: MIT
#pragma once
// Other serial terminals a user could pick, fed the same bytes on a pty of their own: a console
// terminal (picocom), whose output to its own terminal is drained and counted, and a GUI one
// (CuteCom), opened by the keyboard as a user would, whose line is watched until it is drained.
// Each runs in a session of its own, so its whole process tree counts.

#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/pty_pair.h"

inline bool writeAll(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w > 0) {
            data += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 1000);
    }
    return true;
}

// Writes chunk to fd until total bytes went, at rate bytes per second (0: as fast as taken),
// from a thread of its own. Its CPU does not count with the terminal's.
class ChunkWriter {
public:
    using Clock = std::chrono::steady_clock;
    ChunkWriter(int fd, const QByteArray& chunk, std::uint64_t total, double rate)
        : start(Clock::now()), m_thread([this, fd, chunk, total, rate] {
              pthread_setname_np(pthread_self(), "pty-writer");
              timespec cpu0{};
              clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
              std::uint64_t written = 0;
              while (written < total &&
                     writeAll(fd, chunk.constData(), static_cast<std::size_t>(chunk.size()))) {
                  written += static_cast<std::uint64_t>(chunk.size());
                  if (rate > 0)
                      std::this_thread::sleep_until(
                          start +
                          std::chrono::duration<double>(static_cast<double>(written) / rate));
              }
              timespec cpu1{};
              clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
              cpuSeconds = static_cast<double>(cpu1.tv_sec - cpu0.tv_sec) +
                           static_cast<double>(cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
              end = Clock::now();
              done = true;
          }) {}
    ~ChunkWriter() { join(); }
    // Waits for the last write; end and cpuSeconds hold from then on.
    void join() {
        if (m_thread.joinable()) m_thread.join();
    }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    const Clock::time_point start;
    Clock::time_point end;
    double cpuSeconds = 0;  // the writing thread's own
    std::atomic<bool> done{false};

private:
    std::thread m_thread;
};

struct PeerRun {
    std::string skipped;  // why it did not run; empty when it did
    double seconds = 0;
    double cpuSeconds = 0;     // the peer's session
    double busCpuSeconds = 0;  // the accessibility bus's, when it is up
    std::uint64_t sentBytes = 0;
    std::uint64_t shownBytes = 0;  // what the peer put out, when that can be counted
    bool counted = false;          // shownBytes is a count of the peer's output
};

enum class Peer { Picocom, Cutecom };

inline const char* peerName(Peer peer) { return peer == Peer::Picocom ? "picocom" : "CuteCom"; }

namespace peer_detail {

// Whether process pid holds path open.
inline bool holds(pid_t pid, const std::string& path) {
    const QString dir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(dir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFile::symLinkTarget(dir + u'/' + fd) == QString::fromStdString(path)) return true;
    }
    return false;
}

inline bool waitUntil(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline bool installed(const char* program) {
    for (const QString& dir : qEnvironmentVariable("PATH").split(u':')) {
        if (::access(QDir(dir).filePath(QString::fromLatin1(program)).toLocal8Bit(), X_OK) == 0)
            return true;
    }
    return false;
}

}  // namespace peer_detail

// Runs one peer on total bytes of chunk at rate (0: as fast as it takes them). busEnv is the
// environment for a desktop with the accessibility bus up (empty: as this process has it), and
// busSessions the bus's processes.
inline PeerRun runPeer(Peer peer, const QByteArray& chunk, std::uint64_t total, double rate,
                       const std::vector<std::string>& busEnv,
                       const std::vector<pid_t>& busSessions) {
    using namespace peer_detail;
    PeerRun r;
    const char* program = peer == Peer::Picocom ? "picocom" : "cutecom";
    if (!installed(program) || (peer == Peer::Cutecom && !installed("xdotool"))) {
        r.skipped = peer == Peer::Picocom ? "picocom is not installed"
                                          : "cutecom or xdotool is not installed";
        return r;
    }
    std::string error;
    auto line = PtyPair::create(&error);
    auto term = PtyPair::create(&error);
    if (!line || !term) {
        r.skipped = error;
        return r;
    }
    // Our own descriptor of the line shows how much of what was written waits unread.
    const int watch = ::open(line->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QTemporaryDir home;
    std::vector<std::string> env = busEnv.empty() ? environmentWith({}) : busEnv;
    pid_t pid = -1;
    if (peer == Peer::Picocom) {
        ChildStreams streams{term->slavePath(), term->slavePath(), -1, term->slavePath()};
        pid = spawnChild({"picocom", "-q", "-b", "115200", "--nolock", line->slavePath()}, streams,
                         env);
    } else {
        QDir(home.path()).mkpath(QStringLiteral(".config/CuteCom"));
        QFile conf(home.filePath(QStringLiteral(".config/CuteCom/CuteCom5.conf")));
        if (!conf.open(QIODevice::WriteOnly) ||
            conf.write("[sessions]\n1\\BaudRate=115200\n1\\DataBits=8\n1\\Device=" +
                       QByteArray::fromStdString(line->slavePath()) +
                       "\n1\\FlowControl=0\n1\\OpenMode=3\n1\\Parity=0\n1\\StopBits=1\n"
                       "1\\name=Default\nsize=1\n") < 0) {
            r.skipped = "its settings could not be written";
            return r;
        }
        conf.close();
        const std::string dir = home.path().toStdString();
        env.insert(env.begin(), {"HOME=" + dir, "XDG_CONFIG_HOME=" + dir + "/.config"});
        pid = spawnChild({"cutecom"}, {}, env);
        // Its Open button, by the keyboard, once the window is there.
        const pid_t key = spawnChild({"xdotool", "search", "--sync", "--onlyvisible", "--name",
                                      "^CuteCom - ", "windowfocus", "--sync", "key", "alt+o"},
                                     {}, env);
        if (waitChild(key, 15000) < 0) stopSession(key);
    }
    if (pid <= 0 || !waitUntil([&] { return holds(pid, line->slavePath()); }, 10000)) {
        r.skipped = std::string(program) + " did not open the line";
        stopSession(pid);
        return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it settle
    // What a console terminal writes to its own terminal, drained as its window would.
    std::atomic<std::uint64_t> shown{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::vector<char> buffer(1 << 16);
        while (!stop) {
            pollfd p{term->masterFd(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(term->masterFd(), buffer.data(), buffer.size());
            if (n > 0) shown += static_cast<std::uint64_t>(n);
        }
    });
    const auto chunks = (total + static_cast<std::uint64_t>(chunk.size()) - 1) /
                        static_cast<std::uint64_t>(chunk.size());
    r.sentBytes = chunks * static_cast<std::uint64_t>(chunk.size());
    const double cpu0 = sessionsCpu({pid});
    const double bus0 = sessionsCpu(busSessions);
    std::uint64_t lastShown = 0;
    auto lastChange = std::chrono::steady_clock::now();
    auto end = lastChange;
    {
        const ChunkWriter writer(line->masterFd(), chunk, r.sentBytes, rate);
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const auto now = std::chrono::steady_clock::now();
            if (peer == Peer::Picocom) {
                if (shown != lastShown) {
                    lastShown = shown;
                    lastChange = now;
                }
                if (lastShown >= r.sentBytes ||
                    (writer.done && now - lastChange > std::chrono::seconds(1))) {
                    end = lastChange;
                    break;
                }
            } else {
                int waiting = 0;
                if (writer.done && ::ioctl(watch, FIONREAD, &waiting) == 0 && waiting == 0) {
                    end = now;
                    break;
                }
            }
        }
        r.seconds = std::chrono::duration<double>(std::max(end, writer.end) - writer.start).count();
    }
    r.cpuSeconds = sessionsCpu({pid}) - cpu0;
    r.busCpuSeconds = sessionsCpu(busSessions) - bus0;
    stop = true;
    reader.join();
    r.counted = peer == Peer::Picocom;
    r.shownBytes = r.counted ? shown.load() : r.sentBytes;
    stopSession(pid);
    if (watch >= 0) ::close(watch);
    return r;
}
