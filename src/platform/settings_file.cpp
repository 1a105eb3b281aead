// SPDX-License-Identifier: MIT
#include "platform/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "core/cp932.h"
#include "core/ini_document.h"
#include "core/profile_text.h"
#include "platform/safe_file.h"

namespace {

constexpr const char* kComPort = "COMPORT";
constexpr const char* kQlUnit = "QL-UNIT";

// A text as the file stores it; nullopt when it has none, including texts with a line break or
// NUL, which would split the line or cut the value short for other readers of the file.
std::optional<QByteArray> storedText(const QString& text) {
    std::optional<QByteArray> bytes = toCp932(text);
    if (bytes && (bytes->contains('\r') || bytes->contains('\n') || bytes->contains('\0'))) {
        return std::nullopt;
    }
    // Reading trims blanks around a value and strips one pair of quotes; a value that would
    // lose either is written in double quotes, which a reader (ours or another program's) strips
    // again.
    if (bytes && !bytes->isEmpty()) {
        const char first = bytes->front();
        const char last = bytes->back();
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        const bool quoted = bytes->size() >= 2 && first == last && (first == '"' || first == '\'');
        if (blank(first) || blank(last) || quoted) *bytes = '"' + *bytes + '"';
    }
    return bytes;
}

QByteArray hexByte(std::uint8_t v) {
    return QByteArray::number(v, 16).toUpper().rightJustified(2, '0');
}

QByteArray idText(std::uint8_t hi, std::uint8_t lo) { return "0x" + hexByte(hi) + hexByte(lo); }

void readId(const IniDocument& doc, const char* key, std::uint8_t& hi, std::uint8_t& lo) {
    const std::optional<QByteArray> text = doc.value(kQlUnit, key);
    if (!text) return;
    const auto id = static_cast<std::uint32_t>(strToInt(*text).value_or(0));
    hi = static_cast<std::uint8_t>((id >> 8) & 0xFF);
    lo = static_cast<std::uint8_t>(id & 0xFF);
}

}  // namespace

QString settingsPathFor(const QString& executablePath) {
    const qsizetype slash = executablePath.lastIndexOf(u'/');
    const qsizetype dot = executablePath.lastIndexOf(u'.');
    if (dot > slash + 1) return executablePath.left(dot) + QStringLiteral(".ini");
    return executablePath + QStringLiteral(".ini");
}

Settings loadSettings(const QString& path) {
    Settings s;
    const FileRead file = readRegularFile(path);
    if (file.status != ReadStatus::Read) return s;
    const IniDocument doc = IniDocument::parse(file.bytes);

    // An empty stored text is a value; only a missing key falls back to the default.
    auto text = [&doc](const char* key, QString& field) {
        if (const auto v = doc.value(kComPort, key)) field = fromCp932(*v);
    };
    auto integer = [&doc](const char* section, const char* key, int& field) {
        field = profileInt(doc.value(section, key), field);
    };

    LinkSettings& link = s.link;
    text("PortName", link.portName);
    integer(kComPort, "BaudRate", link.baudRate);
    integer(kComPort, "ByteSize", link.dataBits);
    integer(kComPort, "StopBits", link.stopBits);
    text("Parity__", link.parity);
    text("SendHead", link.sendHead);
    text("SendDlmt", link.sendDlmt);
    text("RecvHead", link.recvHead);
    text("RecvDlmt", link.recvDlmt);
    integer(kComPort, "RecvTout", link.recvTimeoutMs);
    // The file counts bytes; each byte renders as four characters. Widened so a huge stored
    // count saturates instead of overflowing.
    const int lineBytes = profileInt(doc.value(kComPort, "LFSize__"), link.lineWidth / 4);
    // Clamped in whole bytes, so that what is saved reads back as the same width.
    constexpr int kMaxLineBytes = std::numeric_limits<int>::max() / 4;
    link.lineWidth = std::clamp(lineBytes, -kMaxLineBytes, kMaxLineBytes) * 4;
    link.reconnect = profileInt(doc.value(kComPort, "Reconnect"), 0) != 0;
    link.inspector = profileInt(doc.value(kComPort, "Inspector"), 0) != 0;
    link.inspectorWidth = std::max(0, profileInt(doc.value(kComPort, "InspectorWidth"), 0));

    ModuleSettings& module = s.module;
    integer(kQlUnit, "RFch____", module.rfCh);
    integer(kQlUnit, "RFpw____", module.rfPw);
    readId(doc, "SysID___", module.sysIdHi, module.sysIdLo);
    readId(doc, "ProID___", module.proIdHi, module.proIdLo);
    return s;
}

bool saveSettings(const QString& path, const Settings& settings) {
    const LinkSettings& link = settings.link;
    const ModuleSettings& module = settings.module;

    const FileRead existing = readRegularFile(path);
    if (existing.status == ReadStatus::Failed) return false;
    IniDocument doc = IniDocument::parse(existing.bytes);

    std::vector<std::pair<const char*, QByteArray>> comPort;
    auto text = [&comPort, &doc](const char* key, const QString& value) {
        // A text still as the file holds it keeps its exact bytes, even bytes that have no
        // code page 932 meaning and so decode to a stand-in character.
        if (const auto stored = doc.value(kComPort, key); stored && fromCp932(*stored) == value)
            return true;
        std::optional<QByteArray> bytes = storedText(value);
        if (!bytes) return false;
        comPort.emplace_back(key, std::move(*bytes));
        return true;
    };
    auto integer = [&comPort](const char* key, int value) {
        comPort.emplace_back(key, QByteArray::number(value));
        return true;
    };
    const bool encoded = text("PortName", link.portName) && integer("BaudRate", link.baudRate) &&
                         integer("ByteSize", link.dataBits) && integer("StopBits", link.stopBits) &&
                         text("Parity__", link.parity) && text("SendHead", link.sendHead) &&
                         text("SendDlmt", link.sendDlmt) && text("RecvHead", link.recvHead) &&
                         text("RecvDlmt", link.recvDlmt) &&
                         integer("RecvTout", link.recvTimeoutMs) &&
                         integer("LFSize__", link.lineWidth / 4);
    if (!encoded) return false;
    // Reconnect is ours alone, not one of the fifteen keys other programs share: a file gains
    // it only once the user turns it on, and keeps it from then on.
    if (link.reconnect || doc.value(kComPort, "Reconnect")) integer("Reconnect", link.reconnect);
    // Inspector likewise.
    if (link.inspector || doc.value(kComPort, "Inspector")) integer("Inspector", link.inspector);
    if (link.inspectorWidth > 0 || doc.value(kComPort, "InspectorWidth"))
        integer("InspectorWidth", link.inspectorWidth);

    for (const auto& [key, value] : comPort) doc.setValue(kComPort, key, value);
    doc.setValue(kQlUnit, "RFch____", QByteArray::number(module.rfCh));
    doc.setValue(kQlUnit, "RFpw____", QByteArray::number(module.rfPw));
    doc.setValue(kQlUnit, "SysID___", idText(module.sysIdHi, module.sysIdLo));
    doc.setValue(kQlUnit, "ProID___", idText(module.proIdHi, module.proIdLo));
    return replaceFileContents(path, doc.toBytes()).ok;
}
