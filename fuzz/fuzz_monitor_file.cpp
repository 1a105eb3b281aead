// SPDX-License-Identifier: MIT
// The monitor's text files: any bytes on disk (valid UTF-8 or not, so the code page 932 path is
// taken too) are read, written back and read again.
//
// Properties: reading a regular file never fails; the text it gives holds no CR; writing that
// text with its lastLineEnded flag succeeds, and reading the written file gives the same text
// and flag; the written file is valid UTF-8 with CR LF line ends only.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "session/monitor_file.h"

namespace {

// Every LF is preceded by CR and every CR followed by LF.
bool onlyCrLfEnds(const QByteArray& bytes) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) return false;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return false;
    }
    return true;
}

bool validUtf8(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    (void)utf8.decode(bytes);
    return !utf8.hasError();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString source = fuzz::ScratchDir::instance().path("source.txt");
    static const QString copy = fuzz::ScratchDir::instance().path("copy.txt");
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    fuzz::writeFile(source, bytes);

    const MonitorFileResult first = readMonitorFile(source);
    FUZZ_CHECK(first.ok);
    FUZZ_CHECK(first.error.isEmpty());
    FUZZ_CHECK(!first.text.contains(QLatin1Char('\r')));

    FUZZ_CHECK(writeMonitorFile(copy, first.text, first.lastLineEnded).isEmpty());
    const QByteArray written = fuzz::readFile(copy);
    FUZZ_CHECK(validUtf8(written));
    FUZZ_CHECK(onlyCrLfEnds(written));

    const MonitorFileResult second = readMonitorFile(copy);
    FUZZ_CHECK(second.ok);
    FUZZ_CHECK(second.text == first.text);
    FUZZ_CHECK(second.lastLineEnded == first.lastLineEnded);
    return 0;
}
