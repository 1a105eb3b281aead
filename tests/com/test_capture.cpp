// SPDX-License-Identifier: MIT
// The capture's line for a received unit and a sent frame: stamp to the millisecond,
// direction, the rendered bytes, CR LF.
#include <gtest/gtest.h>

#include <QDateTime>

#include "com/capture.h"

namespace {

struct LineCase {
    QDateTime at;
    bool received;
    QString rendered;
    QByteArray expected;
};

TEST(CaptureLine, Formats) {
    const QDate day(2026, 12, 9);
    const LineCase cases[] = {
        {QDateTime(day, QTime(3, 4, 5, 6)), true, QStringLiteral(" 0Fh 5Ah"),
         "2026/12/09 03:04:05.006 => 0Fh 5Ah\r\n"},
        {QDateTime(day, QTime(23, 59, 59, 999)), false, QStringLiteral(" 41h 42h"),
         "2026/12/09 23:59:59.999 <= 41h 42h\r\n"},
        // An empty unit still gets its line, so that the cut is seen.
        {QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 0)), true, QString(),
         "2027/01/01 00:00:00.000 =>\r\n"},
        // Mixed rendering keeps its text, in UTF-8.
        {QDateTime(day, QTime(12, 0, 0, 120)), true, QStringLiteral(" 0Fh あ"),
         QStringLiteral("2026/12/09 12:00:00.120 => 0Fh あ\r\n").toUtf8()},
    };
    for (const LineCase& c : cases)
        EXPECT_EQ(Capture::line(c.at, c.received, c.rendered), c.expected) << c.expected.data();
}

}  // namespace
