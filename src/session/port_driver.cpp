// SPDX-License-Identifier: MIT
#include "session/port_driver.h"

#include "session/event_wait.h"
#include "session/line_mapping.h"
#include "core/receive_handler.h"
#include "session/recv_thread.h"
#include "platform/prompts.h"
#include "core/ticks.h"

#include <QFile>
#include <QFileInfo>

#include <array>

namespace {

// The listed port that is the device at path: by its name, or by the node both lead to (a
// stable link, a symlink of the user's).
std::optional<PortCandidate> candidateAt(const std::vector<PortCandidate>& ports,
                                         const std::string& path) {
    const auto nodeOf = [](const std::string& p) {
        return QFileInfo(QFile::decodeName(QByteArray::fromStdString(p))).canonicalFilePath();
    };
    const QString node = nodeOf(path);
    for (const PortCandidate& port : ports) {
        const std::string portPath = devicePathFor(port.name);
        if (portPath == path || (!node.isEmpty() && nodeOf(portPath) == node)) return port;
    }
    return std::nullopt;
}

const SystemPortNodes kSystemNodes;

}  // namespace

PortDriver::PortDriver(LinkSettings& link, SerialDevice& device, const Ticks& ticks,
                       Prompts& prompts, QString appTitle)
    : m_link(link),
      m_device(device),
      m_ticks(ticks),
      m_prompts(prompts),
      m_appTitle(std::move(appTitle)),
      m_nodes(&kSystemNodes) {
    m_reconnectTimer.setInterval(kReconnectPollMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &PortDriver::tryReconnect);
}

PortDriver::~PortDriver() {
    // A thread may be inside a blocking call to us; let every one finish before we go.
    if (m_thread) m_thread->requestTerminate();
    for (auto& t : m_retiring) t->requestTerminate();
    pumpUntil([this] { return !m_thread && m_retiring.empty(); }, m_ticks, std::nullopt);
    endWait();
    m_device.close();
}

std::optional<SerialError> PortDriver::openDevice(const std::string& path) {
    const std::uint64_t mine = ++m_openNumber;
    m_opening = true;
    SerialError err = m_device.open(path, lineParamsFor(m_link));
    if (mine != m_openNumber) return std::nullopt;
    m_opening = false;
    return err;
}

bool PortDriver::open() {
    close();
    m_lastOpenGivenUp = false;
    const std::string path = devicePathFor(m_link.portName);
    const std::optional<SerialError> result = openDevice(path);
    // Given up (a close, a newer open, the program ending): whatever gave it up has shown
    // the port's state already.
    if (!result) {
        m_lastOpenGivenUp = true;
        return false;
    }
    const SerialError& err = *result;
    if (err) {
        if (m_state.reportOpenFailure) {
            QString detail = QString::fromStdString(err.message);
            if (err.kind == SerialErrorKind::PermissionDenied)
                detail += QStringLiteral(
                    "\ndialout グループに入って (sudo adduser $USER dialout) ログインし直してください。 "
                    "(Add yourself to the dialout group (sudo adduser $USER dialout) and log in "
                    "again.)");
            else if (err.kind == SerialErrorKind::InUse)
                detail += QStringLiteral(
                    "\nポートは他のプログラムが使用中です。 (The port is in use by another program.)");
            m_prompts.message(QStringLiteral("Comm Open"), QStringLiteral("INVALID HANDLE"),
                              Prompts::Icon::Warning, detail);
        }
        Q_EMIT statusChanged(m_link.portName + QStringLiteral(":OFF"));
        m_state.receiveStopRequest = true;
        m_state.open = false;
        m_state.receiveRunning = false;
        return false;
    }
    rememberDevice(path);
    startReceiving();
    return true;
}

void PortDriver::startReceiving() {
    m_state.open = true;
    m_vanishSeen = false;
    if (m_handler) m_handler->restart();
    m_state.receiveStopRequest = false;
    m_state.receiveRunning = true;
    m_thread = std::make_unique<TRecvThread>(*this,
                                             m_device.pollFd());
    m_thread->start(QThread::IdlePriority);
    Q_EMIT statusChanged(m_link.portName + QStringLiteral(":OK"));
    Q_EMIT connectionShown(true);
}

void PortDriver::close() {
    if (m_opening) {
        m_opening = false;
        ++m_openNumber;
        m_device.close();
        if (!m_waiting) Q_EMIT statusChanged(m_link.portName + QStringLiteral(":OFF"));
    }
    if (m_state.open) closeOpenPort();
    // Also a wait that began while the thread was ending above.
    if (m_waiting) {
        endWait();
        Q_EMIT statusChanged(m_link.portName + QStringLiteral(":OFF"));
        Q_EMIT connectionShown(false);
    }
}

void PortDriver::closeOpenPort() {
    if (m_state.receiveRunning && m_thread) {
        m_thread->requestTerminate();
        if (m_pollDepth == 0) {
            pumpUntil([this] { return !m_state.receiveRunning; }, m_ticks, std::nullopt);
        } else {
            // Called from inside a poll: the thread waits for that poll, which waits for us.
            // Let it end on its own once the poll returns; the port closes now.
            m_retiring.push_back(std::move(m_thread));
            m_state.receiveRunning = false;
        }
    }
    // The thread may have stopped the port by itself while we waited.
    if (!m_state.open) return;
    // What came before the close is shown, before the status bar shows the port closed.
    if (m_handler) m_handler->lineEnded();
    // A window pausing on that last unit may have closed the port meanwhile.
    if (!m_state.open) return;
    m_device.close();
    m_state.open = false;
    Q_EMIT statusChanged(m_link.portName + QStringLiteral(":OFF"));
    Q_EMIT connectionShown(false);
}

bool PortDriver::write(const std::uint8_t* data, std::size_t n) {
    // Writing to a closed port is a no-op: the send panel may be used at any time.
    if (!m_device.isOpen()) return false;
    // The port is already on its way down after a line error: drop the block quietly rather
    // than stack a second warning on the first (a frame is two writes).
    if (m_state.receiveStopRequest) return false;
    if (const SerialStatus status = m_device.status(); status.error) {
        if (status.vanished && m_link.reconnect) return stopAfterVanishing();
        stopAfterSendError(QStringLiteral("Send ClearCommError dwErrorMask != 0"));
        return false;
    }
    if (!m_device.write(data, n)) {
        if (m_link.reconnect && m_device.status().vanished) return stopAfterVanishing();
        stopAfterSendError(QStringLiteral("送信できません。ポートを閉じます "
                                          "(the line does not take the data; the port is closed)"));
        return false;
    }
    return true;
}

void PortDriver::requestReceiveStop() {
    m_state.receiveStopRequest = true;
    // On a quiet line the thread sleeps without a timeout; without a nudge the port would
    // stay shown open, dropping every send, until a byte happened to arrive.
    if (m_thread) m_thread->wake();
}

void PortDriver::stopAfterSendError(const QString& message) {
    // Stop first: the port goes down while the message is up, not after it is dismissed.
    requestReceiveStop();
    m_prompts.message(m_appTitle, message, Prompts::Icon::None);
}

bool PortDriver::stopAfterVanishing() {
    // Nothing to tell the user but ":WAIT": the port comes back by itself.
    m_vanishSeen = true;
    requestReceiveStop();
    return false;
}

bool PortDriver::waitForFrame(std::uint32_t ms) {
    if (m_state.frameReceived) return true;
    return pumpUntil([this] { return m_state.frameReceived; }, m_ticks, ms);
}

void PortDriver::pumpFor(std::uint32_t ms) { ::pumpFor(ms, m_ticks); }

std::optional<std::uint32_t> PortDriver::poll() {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
        Depth(const Depth&) = delete;
        Depth& operator=(const Depth&) = delete;
    } depth(m_pollDepth);
    // A stop is pending (a failed send): what waits is discarded with the port.
    if (!m_device.isOpen() || m_state.receiveStopRequest) {
        m_state.receiveStopRequest = true;
        return std::nullopt;
    }
    const SerialStatus status = m_device.status();
    if (status.error) {
        m_vanishSeen = m_vanishSeen || status.vanished;
        m_state.receiveStopRequest = true;
        return std::nullopt;
    }
    std::array<std::uint8_t, 4096> buffer{};
    int left = status.waiting;
    bool any = false;
    while (left > 0) {
        const long n = m_device.read(buffer.data(), std::min<std::size_t>(buffer.size(),
                                                                          static_cast<std::size_t>(left)));
        // A failed read leaves the rest for the next poll.
        if (n <= 0) break;
        any = true;
        left -= static_cast<int>(n);
        if (m_handler)
            m_handler->received({buffer.data(), static_cast<std::size_t>(n)}, m_ticks.now());
        // The handler may have stopped or closed the port (a line error seen by a dialog).
        if (!m_device.isOpen() || m_state.receiveStopRequest) return std::nullopt;
    }
    if (!m_handler) return std::nullopt;
    const std::uint32_t now = m_ticks.now();
    if (!any) m_handler->received({}, now);
    return m_handler->quietBudgetMs(now);
}

void PortDriver::receiveThreadEnded(TRecvThread* thread, bool byStopRequest) {
    for (auto it = m_retiring.begin(); it != m_retiring.end(); ++it) {
        if (it->get() == thread) {
            (*it)->wait();
            m_retiring.erase(it);
            return;
        }
    }
    if (thread != m_thread.get()) return;
    m_thread->wait();
    m_thread.reset();
    m_state.receiveRunning = false;
    if (byStopRequest) stopPort();
}

void PortDriver::stopPort() {
    // The bytes that came before a hangup or a line error end their unit as silence would;
    // a window pausing on that unit may close the port meanwhile.
    const bool wasOpen = m_state.open;
    if (m_handler) m_handler->lineEnded();
    if (wasOpen && !m_state.open) return;
    if (m_vanishSeen && m_link.reconnect && !(m_pty && !m_pty->link)) {
        startWaiting();
        return;
    }
    Q_EMIT statusChanged(m_link.portName + QStringLiteral(":OFF"));
    m_device.close();
    m_state.open = false;
    m_state.receiveRunning = false;
    Q_EMIT connectionShown(false);
}

void PortDriver::rememberDevice(const std::string& path) {
    m_adapter.reset();
    m_pty.reset();
    if (!m_link.reconnect) return;
    // Looking the device up costs a scan of the ports present, which a port search opening
    // one port after another should not pay while nobody wants it.
    if (m_candidates) {
        if (auto port = candidateAt(m_candidates->ports(), path); port && port->usb) {
            m_adapter = std::move(port);
            return;
        }
    }
    if (auto look = m_nodes->look(path); look && look->ptySlave) m_pty = std::move(look);
}

void PortDriver::setPortCandidates(const PortCandidates* candidates) {
    m_candidates = candidates;
    if (m_state.open && !m_adapter && !m_pty) rememberDevice(devicePathFor(m_link.portName));
}

void PortDriver::reconnectChanged() {
    if (!m_link.reconnect) {
        if (m_waiting) close();
        return;
    }
    if (m_state.open && !m_adapter && !m_pty) rememberDevice(devicePathFor(m_link.portName));
}

void PortDriver::startWaiting() {
    m_device.close();
    m_state.open = false;
    m_state.receiveRunning = false;
    m_waiting = true;
    m_reconnectTimer.start();
    // The connect toggle stays as it is: the port is still wanted, and a click on it ends the
    // wait as it would close an open port.
    Q_EMIT statusChanged(m_link.portName + QStringLiteral(":WAIT"));
}

void PortDriver::endWait() {
    m_reconnectTimer.stop();
    m_waiting = false;
}

std::optional<PortDriver::Returned> PortDriver::returnedDevice() const {
    const std::string path = devicePathFor(m_link.portName);
    if (m_pty) {
        // Only through the link, made anew by its maker and leading to a pty again; a link
        // left over from a maker that died may meanwhile lead to a stranger's terminal.
        const std::optional<PortNodeLook> now = m_nodes->look(path);
        if (!now || !now->ptySlave || !now->link || now->link == m_pty->link) return std::nullopt;
    }
    if (!m_candidates) return Returned{path, m_link.portName};
    const std::vector<PortCandidate> ports = m_candidates->ports();
    if (m_adapter) {
        // Wherever it is plugged in again, and never another adapter at its old name.
        for (const PortCandidate& port : ports) {
            if (!port.alias && sameAdapter(port, *m_adapter))
                return Returned{devicePathFor(port.name), nameOfReturned(port, ports)};
        }
        return std::nullopt;
    }
    // A path is reopened where it is, unless a USB adapter now stands there: that one is
    // someone else's device, not the one that went away.
    if (const auto there = candidateAt(ports, path); there && there->usb) return std::nullopt;
    return Returned{path, m_link.portName};
}

QString PortDriver::nameOfReturned(const PortCandidate& port,
                                   const std::vector<PortCandidate>& ports) const {
    // A name that leads to the adapter wherever it is plugged in stays; otherwise the port is
    // known from now on by where it really is, so that a later open does not take whatever
    // device comes to sit at the old name.
    const QString byId = QStringLiteral("/dev/serial/by-id/");
    if (m_link.portName.startsWith(byId)) return m_link.portName;
    for (const PortCandidate& other : ports) {
        if (other.alias && other.name.startsWith(byId) && sameAdapter(other, port))
            return other.name;
    }
    if (devicePathFor(port.name) == devicePathFor(m_link.portName)) return m_link.portName;
    return port.name;
}

void PortDriver::tryReconnect() {
    // A network port's open waits with the UI alive: the next look comes meanwhile.
    if (!m_waiting || m_opening) return;
    const std::optional<Returned> back = returnedDevice();
    if (!back) return;
    // Still away, or not yet ready for us (its permissions follow a moment after the device):
    // the next look tries again, quietly.
    const std::optional<SerialError> err = openDevice(back->path);
    if (!err || *err) return;
    endWait();
    m_link.portName = back->name;
    // The link now standing is the one a later return must differ from.
    if (m_pty) m_pty = m_nodes->look(back->path).value_or(PortNodeLook{true, std::nullopt});
    startReceiving();
    Q_EMIT reconnected();
}
