// SPDX-License-Identifier: MIT
// The frame decoder over any bytes: the first input byte picks the direction and the model row
// given (or none), the rest is the unit.
//
// Properties:
//  - no crash, and every field lies inside the unit (offset >= 0, offset + size <= unit size)
//    and holds exactly the unit's bytes there;
//  - fields of a frame come in unit order without overlapping;
//  - a unit is a frame exactly when it holds the start mark 0F 5A somewhere;
//  - the text rendering has the summary and one line per field.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/frame_decoder.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t how = data[0];
    const std::span<const std::uint8_t> unit(data + 1, size - 1);
    DecodeOptions options;
    options.direction = (how & 1) ? Direction::Sent : Direction::Received;
    if (how & 2) options.modelRow = (how >> 2) % 6 - 1;  // -1 and 4 are rows that do not exist

    const DecodedUnit decoded = decodeUnit(unit, options);
    const QByteArray bytes(reinterpret_cast<const char*>(unit.data()),
                           static_cast<qsizetype>(unit.size()));
    const int n = static_cast<int>(unit.size());
    int end = 0;
    for (const DecodedField& f : decoded.fields) {
        FUZZ_CHECK(f.offset >= 0 && f.size() >= 0 && f.offset + f.size() <= n);
        FUZZ_CHECK(bytes.mid(f.offset, f.size()) == f.bytes);
        FUZZ_CHECK(!fieldName(f.id).isEmpty());
        // What the terminal applied beyond the frame's end stands over bytes explained above.
        if (f.applied && !f.value) continue;
        FUZZ_CHECK(f.offset >= end);
        end = f.offset + f.size();
    }
    FUZZ_CHECK(decoded.isFrame == bytes.contains(QByteArray::fromHex("0F5A")));
    FUZZ_CHECK(!decoded.summary.isEmpty());
    const QString text = renderDecoded(decoded);
    FUZZ_CHECK(text.count(u'\n') == decoded.fields.size() + 1);
    return 0;
}
