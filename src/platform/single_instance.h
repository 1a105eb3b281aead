#pragma once
// One running terminal per user. The first process listens on a local socket whose name is
// derived from the application title; a later one connects, asks it to come to the front,
// and ends.

#include <QObject>
#include <QString>

class QLocalServer;

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& appTitle, QObject* parent = nullptr);
    ~SingleInstance() override;

    [[nodiscard]] static QString serverNameFor(const QString& appTitle);

    // True when another instance answered and was asked to raise its window.
    bool notifyRunning(int timeoutMs = 1000);
    // Starts listening. A socket left behind by a crashed process is removed first.
    bool listen();

Q_SIGNALS:
    void activationRequested();

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};
