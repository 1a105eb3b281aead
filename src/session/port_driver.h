// SPDX-License-Identifier: MIT
#pragma once
// The one serial port: open with the stored line parameters, close, write, and the receive
// thread that paces polls. Every member runs on the UI thread; the receive thread only asks
// the UI thread to run poll() and waits for it.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/link_settings.h"
#include "core/port_candidates.h"
#include "platform/serial_device.h"
#include "platform/serial_port_node.h"

class Prompts;
class ReceiveHandler;
class TRecvThread;
class Ticks;

struct PortState {
    bool open = false;
    bool receiveRunning = false;
    bool receiveStopRequest = false;
    bool reportOpenFailure = false;
    bool frameReceived = false;
};

class PortDriver final : public QObject {
    Q_OBJECT
public:
    // The port name in link changes when Reconnect follows an adapter to another name.
    PortDriver(LinkSettings& link, SerialDevice& device, const Ticks& ticks, Prompts& prompts,
               QString appTitle);
    ~PortDriver() override;
    PortDriver(const PortDriver&) = delete;
    PortDriver& operator=(const PortDriver&) = delete;

    // An open still waiting (a network port's connect) is given up by close() and by a newer
    // open; it then returns false without a word, and lastOpenGivenUp() says so.
    bool open();
    // Also ends a wait for a vanished device, and gives up an open still waiting.
    void close();
    [[nodiscard]] bool isOpening() const { return m_opening; }
    [[nodiscard]] bool lastOpenGivenUp() const { return m_lastOpenGivenUp; }
    // True when the whole block went to the device. A block that cannot go out whole is a
    // line error: the user is told once and the port stops.
    bool write(const std::uint8_t* data, std::size_t n);
    bool waitForFrame(std::uint32_t ms);
    void pumpFor(std::uint32_t ms);

    void setReceiveHandler(ReceiveHandler* handler) { m_handler = handler; }

    [[nodiscard]] bool isOpen() const { return m_state.open; }
    [[nodiscard]] const PortState& state() const { return m_state; }
    void setReportOpenFailure(bool on) { m_state.reportOpenFailure = on; }
    void setFrameReceived(bool on) { m_state.frameReceived = on; }
    // The receive thread stops the port at its next poll, which runs at once.
    void requestReceiveStop();
    [[nodiscard]] const Ticks& ticks() const { return m_ticks; }

    // The ports present, which tell the device opened from another one put in its place. A
    // port already open (the one opened at start) learns its device now.
    void setPortCandidates(const PortCandidates* candidates);
    // What stands at a port name, which tells a pty opened from the next one given its number;
    // the system's unless a test hands in its own.
    void setPortNodes(const PortNodes* nodes) { m_nodes = nodes; }
    // With Reconnect on, a port whose device went away waits for it to come back: closed,
    // shown as ":WAIT", and looked for every kReconnectPollMs until it is there again. A pty
    // opened by its bare number is not waited for: nothing tells its return from another's.
    [[nodiscard]] bool isWaiting() const { return m_waiting; }
    static constexpr int kReconnectPollMs = 200;
    // The Reconnect setting was changed: an open port learns which device it has, and a wait
    // ends as a close would end it.
    void reconnectChanged();

    // One poll of the line; runs on the UI thread at the receive thread's request. Returns
    // how long the thread may sleep before the next poll if the line stays silent.
    std::optional<std::uint32_t> poll();
    // Called on the UI thread once the receive thread has left its loop.
    void receiveThreadEnded(TRecvThread* thread, bool byStopRequest);

Q_SIGNALS:
    // Status-bar panel 0.
    void statusChanged(const QString& text);
    // The connect toggle: open (caption "接続中", blue) or closed ("接続", default colour).
    void connectionShown(bool open);
    // A wait ended with the device back and the port open again, perhaps under another name
    // (the link settings' port name then says which).
    void reconnected();

private:
    void startReceiving();
    void closeOpenPort();
    void stopPort();
    void stopAfterSendError(const QString& message);
    bool stopAfterVanishing();
    void rememberDevice(const std::string& path);
    void startWaiting();
    void endWait();
    void tryReconnect();
    // Runs the device's open as one that a close or a newer open may give up; nothing when
    // it was given up.
    std::optional<SerialError> openDevice(const std::string& path);
    struct Returned {
        std::string path;
        QString name;  // the port name from now on
    };
    // Where the vanished device can be opened again; nothing while it is away or while another
    // device stands in its place.
    [[nodiscard]] std::optional<Returned> returnedDevice() const;
    [[nodiscard]] QString nameOfReturned(const PortCandidate& port,
                                         const std::vector<PortCandidate>& ports) const;

    LinkSettings& m_link;
    SerialDevice& m_device;
    const Ticks& m_ticks;
    Prompts& m_prompts;
    QString m_appTitle;
    ReceiveHandler* m_handler = nullptr;
    PortState m_state;
    std::unique_ptr<TRecvThread> m_thread;
    // Threads told to end while a poll of theirs was still on the stack (a window pausing on
    // received data when the port was closed); each ends once that poll returns.
    std::vector<std::unique_ptr<TRecvThread>> m_retiring;
    int m_pollDepth = 0;

    const PortCandidates* m_candidates = nullptr;
    // The USB adapter opened, known again by its identity wherever it is plugged in; none for
    // other devices, which are known by their path.
    std::optional<PortCandidate> m_adapter;
    const PortNodes* m_nodes;
    // The pty slave opened and the link that led to it, if one did.
    std::optional<PortNodeLook> m_pty;
    bool m_vanishSeen = false;
    bool m_waiting = false;
    QTimer m_reconnectTimer;
    bool m_opening = false;
    bool m_lastOpenGivenUp = false;
    // Counts the opens begun and given up: an open whose number moved on was given up.
    std::uint64_t m_openNumber = 0;
};
