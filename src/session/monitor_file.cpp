// SPDX-License-Identifier: MIT
#include "session/monitor_file.h"

#include <QByteArray>
#include <QStringDecoder>

#include "core/cp932.h"
#include "platform/safe_file.h"

namespace {

QString decode(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    // One byte order mark is dropped above; the decoder must keep any that follow as text.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless |
                                                  QStringConverter::Flag::ConvertInitialBom);
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

}  // namespace

MonitorFileResult readMonitorFile(const QString& path) {
    MonitorFileResult result;
    const FileRead file = readRegularFile(path);
    if (file.status != ReadStatus::Read) {
        result.error = describe(path, file.reason);
        return result;
    }

    QString text = decode(file.bytes);
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
    const FileOutcome written = replaceFileContents(path, encode(plainText, lastLineEnded));
    return written ? QString() : describe(path, written.reason);
}
