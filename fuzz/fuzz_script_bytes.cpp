// SPDX-License-Identifier: MIT
// The script API's byte conversions: hex text, byte tables and ID strings.
//
// Properties:
//  - bytesFromHex reads exactly when the text is spaces/tabs and pairs of hex digits; it gives
//    one byte per pair, and what hexText writes reads back unchanged;
//  - wherever bytesFromHex reads, the send panel's lenient reader gives the same bytes, so a
//    script's bytes are the panel's bytes;
//  - bytesFromValues takes exactly the lists of 0..255;
//  - idFromHex reads exactly the hex texts of four bytes.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "core/frame_format.h"
#include "fuzz_support.h"
#include "core/script_bytes.h"

namespace {

bool wellFormedHex(const QByteArray& text) {
    int digits = 0;
    for (const char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (hex) {
            ++digits;
        } else if (c == ' ' || c == '\t') {
            if (digits % 2) return false;
        } else {
            return false;
        }
    }
    return digits % 2 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string raw = input.ConsumeRandomLengthString(300);
    const QByteArray text(raw.data(), static_cast<qsizetype>(raw.size()));

    const auto read = bytesFromHex(text);
    FUZZ_CHECK(std::holds_alternative<QByteArray>(read) == wellFormedHex(text));
    if (const auto* bytes = std::get_if<QByteArray>(&read)) {
        FUZZ_CHECK(bytes->size() <= text.size() / 2);
        const QByteArray written = hexText(*bytes);
        const auto back = bytesFromHex(written);
        FUZZ_CHECK(std::holds_alternative<QByteArray>(back) &&
                   std::get<QByteArray>(back) == *bytes);
        // The panel's reader agrees wherever tabs (which it does not take) are absent.
        if (!text.contains('\t')) {
            const HexBytes panel = hexTextToBytes(QString::fromLatin1(text));
            FUZZ_CHECK(!panel.badPair && panel.bytes == *bytes);
        }
        const auto id = idFromHex(text);
        using Id = std::array<std::uint8_t, 4>;
        FUZZ_CHECK(std::holds_alternative<Id>(id) == (bytes->size() == 4));
    } else {
        FUZZ_CHECK(!std::get<ByteRefusal>(read).reason.isEmpty());
        FUZZ_CHECK(std::holds_alternative<ByteRefusal>(idFromHex(text)));
    }

    std::vector<long long> values;
    bool allBytes = true;
    while (input.remaining_bytes() > 0 && values.size() < 64) {
        values.push_back(input.ConsumeIntegralInRange<long long>(-300, 600));
        allBytes = allBytes && values.back() >= 0 && values.back() <= 255;
    }
    const auto fromValues = bytesFromValues(values);
    FUZZ_CHECK(std::holds_alternative<QByteArray>(fromValues) == allBytes);
    if (const auto* bytes = std::get_if<QByteArray>(&fromValues)) {
        FUZZ_CHECK(bytes->size() == static_cast<qsizetype>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i)
            FUZZ_CHECK(static_cast<std::uint8_t>((*bytes)[static_cast<qsizetype>(i)]) == values[i]);
    }
    return 0;
}
