// SPDX-License-Identifier: MIT
#pragma once
// Certificates for the TLS tests, made once per run with the openssl command in a folder of
// their own: a CA and what it signs (the server on 127.0.0.1 and localhost, a client, a
// server made out to another host, an expired server), and a second CA nobody trusts with a
// server and a client of its own.

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <string>

class TestCertificates {
public:
    static const TestCertificates& get() {
        static const TestCertificates made;
        return made;
    }
    static bool available() {
        return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
    }

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] const std::string& error() const { return m_error; }
    // FOLDER/NAME.crt or .key: ca, server, client, elsewhere, expired, other-ca, stranger
    // (a server of the other CA), intruder (a client of the other CA), revoked (a server in
    // the CA's revocation list, crl()).
    [[nodiscard]] std::string crt(const char* name) const { return path(name) + ".crt"; }
    [[nodiscard]] std::string key(const char* name) const { return path(name) + ".key"; }
    [[nodiscard]] std::string crl() const { return path("ca") + ".crl"; }

private:
    TestCertificates() {
        m_ok = m_dir.isValid() && authority("ca") && authority("other-ca") &&
               signedBy("server", "ca", "localhost", "DNS:localhost,IP:127.0.0.1", "30") &&
               signedBy("client", "ca", "kit-user", "", "30") &&
               signedBy("elsewhere", "ca", "elsewhere.example", "DNS:elsewhere.example", "30") &&
               signedBy("expired", "ca", "localhost", "DNS:localhost,IP:127.0.0.1", "-1") &&
               signedBy("stranger", "other-ca", "localhost", "DNS:localhost,IP:127.0.0.1", "30") &&
               signedBy("intruder", "other-ca", "intruder", "", "30") &&
               signedBy("revoked", "ca", "localhost", "DNS:localhost,IP:127.0.0.1", "30") &&
               revocationList();
    }
    // ca.crl: the CA's list, with the revoked server in it.
    bool revocationList() {
        QFile config(m_dir.filePath(QStringLiteral("ca.cnf")));
        QFile index(m_dir.filePath(QStringLiteral("index.txt")));
        if (!config.open(QIODevice::WriteOnly) || !index.open(QIODevice::WriteOnly)) return false;
        config.write(
            "[ca]\ndefault_ca=d\n[d]\ndatabase=index.txt\ndefault_md=sha256\n"
            "default_crl_days=30\n");
        config.close();
        index.close();
        const QStringList ca{QStringLiteral("-config"),  QStringLiteral("ca.cnf"),
                             QStringLiteral("-keyfile"), QStringLiteral("ca.key"),
                             QStringLiteral("-cert"),    QStringLiteral("ca.crt")};
        return openssl(QStringList{QStringLiteral("ca"), QStringLiteral("-revoke"),
                                   QStringLiteral("revoked.crt")} +
                       ca) &&
               openssl(QStringList{QStringLiteral("ca"), QStringLiteral("-gencrl"),
                                   QStringLiteral("-out"), QStringLiteral("ca.crl")} +
                       ca);
    }
    [[nodiscard]] std::string path(const char* name) const {
        return m_dir.filePath(QString::fromLatin1(name)).toStdString();
    }
    bool openssl(const QStringList& arguments) {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"), arguments);
        if (p.waitForFinished(30000) && p.exitCode() == 0) return true;
        m_error =
            "openssl " + arguments.join(u' ').toStdString() + ": " + p.readAll().toStdString();
        return false;
    }
    bool authority(const char* name) {
        const QString n = QString::fromLatin1(name);
        return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                        QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
                        QStringLiteral("-keyout"), n + QStringLiteral(".key"),
                        QStringLiteral("-out"), n + QStringLiteral(".crt"), QStringLiteral("-days"),
                        QStringLiteral("30"), QStringLiteral("-subj"),
                        QStringLiteral("/CN=Norvale test ") + n});
    }
    bool signedBy(const char* name, const char* ca, const char* commonName, const char* altNames,
                  const char* days) {
        const QString n = QString::fromLatin1(name);
        const QString c = QString::fromLatin1(ca);
        if (!openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                      QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                      n + QStringLiteral(".key"), QStringLiteral("-out"),
                      n + QStringLiteral(".csr"), QStringLiteral("-subj"),
                      QStringLiteral("/CN=") + QString::fromLatin1(commonName)}))
            return false;
        QStringList sign{QStringLiteral("x509"),
                         QStringLiteral("-req"),
                         QStringLiteral("-in"),
                         n + QStringLiteral(".csr"),
                         QStringLiteral("-CA"),
                         c + QStringLiteral(".crt"),
                         QStringLiteral("-CAkey"),
                         c + QStringLiteral(".key"),
                         QStringLiteral("-CAcreateserial"),
                         QStringLiteral("-out"),
                         n + QStringLiteral(".crt"),
                         QStringLiteral("-days"),
                         QString::fromLatin1(days)};
        if (*altNames) {
            const QString ext = n + QStringLiteral(".ext");
            QFile f(m_dir.filePath(ext));
            if (!f.open(QIODevice::WriteOnly)) return false;
            f.write(QByteArray("subjectAltName=") + altNames + '\n');
            f.close();
            sign << QStringLiteral("-extfile") << ext;
        }
        return openssl(sign);
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
    std::string m_error;
};
