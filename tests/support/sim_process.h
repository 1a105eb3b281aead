// SPDX-License-Identifier: MIT
#pragma once
// orlin-sim as a process on a new pty, for the tests of the programs without a window.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <utility>

// orlin-sim on a new pty, telling on stderr (-v) every frame it sends.
class SimProcess {
public:
    explicit SimProcess(const QStringList& arguments = {}) {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral(ORLIN_SIM_BIN),
                        QStringList{QStringLiteral("-v")} + arguments);
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000))
            m_path = QString::fromLatin1(m_process.readLine().trimmed());
    }
    ~SimProcess() {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    [[nodiscard]] const QString& path() const { return m_path; }
    // The bytes it sent (tx) and received (rx), once it has been stopped.
    std::pair<QByteArray, QByteArray> bytesBothWays() {
        m_process.terminate();
        m_process.waitForFinished(3000);
        std::pair<QByteArray, QByteArray> out;
        for (const QByteArray& line : m_process.readAllStandardError().split('\n')) {
            if (line.startsWith("tx ")) out.first += QByteArray::fromHex(line.mid(3));
            if (line.startsWith("rx ")) out.second += QByteArray::fromHex(line.mid(3));
        }
        return out;
    }
    // Bytes it sent, once it has stopped or been stopped.
    int bytesSent() {
        m_process.terminate();
        m_process.waitForFinished(3000);
        int n = 0;
        for (const QByteArray& line : m_process.readAllStandardError().split('\n')) {
            if (line.startsWith("tx ")) n += static_cast<int>(line.count(' '));
        }
        return n;
    }

private:
    QProcess m_process;
    QString m_path;
};
