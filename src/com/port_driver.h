#pragma once
// The one serial port: open with the stored line parameters, close, write, and the receive
// thread that paces polls. Every member runs on the UI thread; the receive thread only asks
// the UI thread to run poll() and waits for it.

#include "com/link_settings.h"
#include "platform/serial_device.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

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
    PortDriver(const LinkSettings& link, SerialDevice& device, const Ticks& ticks,
               Prompts& prompts, QString appTitle);
    ~PortDriver() override;
    PortDriver(const PortDriver&) = delete;
    PortDriver& operator=(const PortDriver&) = delete;

    bool open();
    void close();
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

private:
    void stopPort();
    void stopAfterSendError(const QString& message);

    const LinkSettings& m_link;
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
};
