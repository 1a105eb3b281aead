// Writing goes through QSaveFile so that a failed save never leaves a half-written log in place
// of a good one. A target that exists but is not a regular file (a device, a pipe) is written
// directly instead: renaming a temporary file over it would replace the device node itself.
#include "main/monitor_file.h"

#include "com/cp932.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

QString decode(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    // One byte order mark is dropped above; the decoder must keep any that follow as text.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) return text;
    return fromCp932(bytes);
}

QByteArray encode(const QString& plainText, bool lastLineEnded) {
    QByteArray bytes = plainText.toUtf8();
    // Reading drops one leading byte order mark; a text that itself begins with U+FEFF gets one
    // in front so that it survives being opened again.
    if (plainText.startsWith(QChar(0xFEFF))) bytes.prepend("\xEF\xBB\xBF");
    bytes.replace('\n', "\r\n");
    if (lastLineEnded) bytes.append("\r\n");
    return bytes;
}

QString describe(const QString& path, const QString& reason) {
    return QStringLiteral("%1: %2").arg(path, reason);
}

QString writeDirectly(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return describe(path, file.errorString());
    }
    // QFile buffers: a full device only reports its error on flush.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        return describe(path, file.errorString());
    }
    file.close();
    return {};
}

}  // namespace

MonitorFileResult readMonitorFile(const QString& path) {
    MonitorFileResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = describe(path, file.errorString());
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error = describe(path, file.errorString());
        return result;
    }

    QString text = decode(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n'))) {
        text.chop(1);
        result.lastLineEnded = true;
    }
    result.ok = true;
    result.text = text;
    return result;
}

QString writeMonitorFile(const QString& path, const QString& plainText, bool lastLineEnded) {
    const QByteArray bytes = encode(plainText, lastLineEnded);

    const QFileInfo target(path);  // follows symbolic links
    if (target.exists() && !target.isFile() && !target.isDir()) return writeDirectly(path, bytes);

    QSaveFile file(path);
    // A writable file in a folder the user cannot write to is still replaced, in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) return describe(path, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = describe(path, file.errorString());
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) return describe(path, file.errorString());
    return {};
}
