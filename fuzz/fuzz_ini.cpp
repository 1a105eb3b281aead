// SPDX-License-Identifier: MIT
// The settings file: any bytes as an INI document, then the settings layer on top of it.
//
// Properties:
//  - toBytes() of a parsed document parses back to the same lines (toBytes is a fixed point),
//    and every section/key named in the input reads the same value before and after;
//  - setValue() makes the key read back as written (blanks and one pair of quotes removed) and
//    leaves every key of a different name alone;
//  - loadSettings, saveSettings, loadSettings: the fifteen values survive and every key that is
//    not one of ours reads as before. A refused save must have a reason the header names (a
//    text without a code page 932 form, or with CR, LF or NUL) and must leave the file as it
//    was.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/cp932.h"
#include "core/ini_document.h"
#include "core/link_settings.h"
#include "platform/settings_file.h"
#include "fuzz_support.h"

namespace {

using NamePair = std::pair<QByteArray, QByteArray>;  // section, key

// Enough names to reach every interesting line of a small input without making a large one
// quadratic.
constexpr std::size_t kMaxNames = 32;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArrayView trimmed(QByteArrayView s) {
    while (!s.isEmpty() && isBlank(s.front())) s = s.sliced(1);
    while (!s.isEmpty() && isBlank(s.back())) s.chop(1);
    return s;
}

// What a reader sees of a written value: blanks around it and one pair of quotes dropped.
QByteArray readBack(QByteArrayView written) {
    QByteArrayView v = trimmed(written);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.sliced(1, v.size() - 2);
    }
    return v.toByteArray();
}

// The section/key names of the input, found the plain way: a line whose first non-blank is '['
// names a section (up to its last ']'), any other line with '=' names a key. It need not agree
// with the parser on every corner; any name is a fair question to ask both documents.
std::vector<NamePair> namesIn(QByteArrayView bytes) {
    std::vector<NamePair> names;
    std::optional<QByteArray> section;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= bytes.size() && names.size() < kMaxNames; ++i) {
        if (i < bytes.size() && bytes[i] != '\r' && bytes[i] != '\n') continue;
        const QByteArrayView line = trimmed(bytes.sliced(start, i - start));
        start = i + 1;
        if (line.isEmpty()) continue;
        if (line.front() == '[') {
            const QByteArrayView inner = line.sliced(1);
            const qsizetype close = inner.lastIndexOf(']');
            section = trimmed(close < 0 ? inner : inner.first(close)).toByteArray();
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!section || eq < 0 || line.front() == ';') continue;
        names.emplace_back(*section, trimmed(line.first(eq)).toByteArray());
    }
    return names;
}

bool asciiSameName(QByteArrayView a, QByteArrayView b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

constexpr std::array<const char*, 11> kComPortKeys{"PortName", "BaudRate", "ByteSize", "StopBits",
                                                   "Parity__", "SendHead", "SendDlmt", "RecvHead",
                                                   "RecvDlmt", "RecvTout", "LFSize__"};
constexpr std::array<const char*, 4> kQlUnitKeys{"RFch____", "RFpw____", "SysID___", "ProID___"};

// Our keys may be spelled in any ASCII case in the file; so may their sections.
bool isOurKey(const NamePair& name) {
    auto in = [&name](const auto& keys) {
        for (const char* key : keys) {
            if (asciiSameName(name.second, key)) return true;
        }
        return false;
    };
    if (asciiSameName(name.first, "COMPORT")) return in(kComPortKeys);
    if (asciiSameName(name.first, "QL-UNIT")) return in(kQlUnitKeys);
    return false;
}

std::vector<NamePair> queriesFor(QByteArrayView bytes) {
    std::vector<NamePair> names = namesIn(bytes);
    for (const char* key : kComPortKeys) names.emplace_back("COMPORT", key);
    for (const char* key : kQlUnitKeys) names.emplace_back("QL-UNIT", key);
    // Case-folded spellings of the first few, so the folding rules are asked too.
    const std::size_t n = std::min<std::size_t>(names.size(), 4);
    for (std::size_t i = 0; i < n; ++i) {
        names.emplace_back(names[i].first.toUpper(), names[i].second.toLower());
    }
    return names;
}

using Values = std::vector<std::optional<QByteArray>>;

// What each query reads in the input as parsed; later documents are compared with it.
Values valuesOf(const IniDocument& doc, const std::vector<NamePair>& queries) {
    Values values;
    values.reserve(queries.size());
    for (const auto& [section, key] : queries) values.push_back(doc.value(section, key));
    return values;
}

void checkDocumentRoundTrip(QByteArrayView bytes, const std::vector<NamePair>& queries,
                            const Values& baseline) {
    const IniDocument doc = IniDocument::parse(bytes);
    const QByteArray written = doc.toBytes();
    const IniDocument again = IniDocument::parse(written);
    FUZZ_CHECK(again.toBytes() == written);
    FUZZ_CHECK(valuesOf(again, queries) == baseline);

    // Edits: an existing name, a new key in an existing section, a new section. The value is
    // taken from the input (any line-free bytes) so quotes and blanks come in too.
    if (queries.empty()) return;
    const NamePair& target = queries[static_cast<std::size_t>(bytes.size()) % queries.size()];
    QByteArray value = queries.front().second + "= " + target.first;
    const std::array<NamePair, 3> edits{
        target, NamePair{target.first, QByteArray("NorvaleFuzzKey")},
        NamePair{QByteArray("Norvale Fuzz Section"), target.second}};
    for (const NamePair& edit : edits) {
        const QByteArray& section = edit.first;
        const QByteArray& key = edit.second;
        // Names a line can carry: no line break, no '=' in the key, not a comment or a header.
        if (section.contains('\r') || section.contains('\n') || trimmed(section) != section) {
            continue;
        }
        if (key.contains('=') || key.contains('\r') || key.contains('\n') || trimmed(key) != key ||
            key.startsWith(';') || key.startsWith('[')) {
            continue;
        }
        IniDocument edited = IniDocument::parse(written);
        edited.setValue(section, key, value);
        FUZZ_CHECK(edited.value(section, key) == readBack(value));
        const IniDocument reread = IniDocument::parse(edited.toBytes());
        FUZZ_CHECK(reread.value(section, key) == readBack(value));
        for (std::size_t i = 0; i < queries.size(); ++i) {
            const auto& [otherSection, otherKey] = queries[i];
            // Names of another length can never match the edited one.
            if (otherSection.size() == section.size() && otherKey.size() == key.size()) continue;
            FUZZ_CHECK(reread.value(otherSection, otherKey) == baseline[i]);
        }
        value += "'";
    }
}

bool storable(const QString& text) {
    return toCp932(text).has_value() && !text.contains(QLatin1Char('\r')) &&
           !text.contains(QLatin1Char('\n')) && !text.contains(QChar(u'\0'));
}

bool allTextsStorable(const LinkSettings& link) {
    return storable(link.portName) && storable(link.parity) && storable(link.sendHead) &&
           storable(link.sendDlmt) && storable(link.recvHead) && storable(link.recvDlmt);
}

void checkSettingsRoundTrip(QByteArrayView bytes, const std::vector<NamePair>& queries,
                            const Values& baseline) {
    static const QString path = fuzz::ScratchDir::instance().path("settings.ini");
    fuzz::writeFile(path, bytes);

    const Settings first = loadSettings(path);
    if (!saveSettings(path, first)) {
        FUZZ_CHECK(!allTextsStorable(first.link));
        FUZZ_CHECK(fuzz::readFile(path) == bytes);
        return;
    }
    const QByteArray saved = fuzz::readFile(path);
    const Settings second = loadSettings(path);

    const LinkSettings& a = first.link;
    const LinkSettings& b = second.link;
    FUZZ_CHECK(a.portName == b.portName);
    FUZZ_CHECK(a.baudRate == b.baudRate);
    FUZZ_CHECK(a.dataBits == b.dataBits);
    FUZZ_CHECK(a.stopBits == b.stopBits);
    FUZZ_CHECK(a.parity == b.parity);
    FUZZ_CHECK(a.sendHead == b.sendHead);
    FUZZ_CHECK(a.sendDlmt == b.sendDlmt);
    FUZZ_CHECK(a.recvHead == b.recvHead);
    FUZZ_CHECK(a.recvDlmt == b.recvDlmt);
    FUZZ_CHECK(a.recvTimeoutMs == b.recvTimeoutMs);
    FUZZ_CHECK(a.lineWidth == b.lineWidth);
    FUZZ_CHECK(first.module == second.module);
    FUZZ_CHECK(first == second);

    const IniDocument after = IniDocument::parse(saved);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        if (isOurKey(queries[i])) continue;
        FUZZ_CHECK(after.value(queries[i].first, queries[i].second) == baseline[i]);
    }

    // A second save of the same values changes nothing.
    FUZZ_CHECK(saveSettings(path, second));
    FUZZ_CHECK(fuzz::readFile(path) == saved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::vector<NamePair> queries = queriesFor(bytes);
    const Values baseline = valuesOf(IniDocument::parse(bytes), queries);
    checkDocumentRoundTrip(bytes, queries, baseline);
    checkSettingsRoundTrip(bytes, queries, baseline);
    return 0;
}
