#pragma once
// SIGTERM, SIGINT and SIGHUP (logout, shutdown, Ctrl-C in the launching terminal) become a
// Qt signal on the UI thread, so the program closes its main window as Quit does: settings
// saved, port closed. The signals are blocked and read from a signalfd; no handler runs in
// signal context.

#include <QObject>

class QSocketNotifier;

class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    // Blocks the signals for this thread and every thread started after it: call first thing
    // in main(), before any thread exists.
    static void blockInProcess();

    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    [[nodiscard]] bool isWatching() const { return m_fd >= 0; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
