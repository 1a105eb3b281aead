// SPDX-License-Identifier: MIT
// Lines are kept verbatim and interpreted on every lookup; the settings file is a few dozen
// lines, so re-scanning is cheaper to get right than keeping an index in step with edits.
#include "core/ini_document.h"

#include <utility>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArrayView trimmed(QByteArrayView s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s[begin])) ++begin;
    while (end > begin && isBlank(s[end - 1])) --end;
    return s.sliced(begin, end - begin);
}

bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

unsigned char asciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The byte after a code page 932 lead byte may fall in 'A'..'Z' or 'a'..'z'; folding it would
// make two different Japanese names equal, so it is compared as is.
bool sameName(QByteArrayView a, QByteArrayView b) {
    if (a.size() != b.size()) return false;
    bool trail = false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (trail) {
            if (ca != cb) return false;
            trail = false;
            continue;
        }
        if (asciiLower(ca) != asciiLower(cb)) return false;
        trail = isLeadByte(ca);
    }
    return true;
}

QByteArrayView unquoted(QByteArrayView v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.sliced(1, v.size() - 2);
    }
    return v;
}

bool isBlankLine(QByteArrayView line) { return trimmed(line).isEmpty(); }

}  // namespace

IniDocument IniDocument::parse(QByteArrayView bytes) {
    IniDocument doc;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') continue;
        doc.m_lines.emplace_back(bytes.sliced(start, i - start).toByteArray());
        if (bytes[i] == '\r' && i + 1 < n && bytes[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < n) doc.m_lines.emplace_back(bytes.sliced(start).toByteArray());
    return doc;
}

std::optional<QByteArrayView> IniDocument::sectionOf(QByteArrayView line) {
    const QByteArrayView t = trimmed(line);
    if (t.isEmpty() || t.front() != '[') return std::nullopt;
    // Up to the last ']' (a ']' may be the second byte of a double-byte character); a header
    // missing its ']' still opens a section, named by the rest of the line.
    const QByteArrayView inner = t.sliced(1);
    const qsizetype close = inner.lastIndexOf(']');
    return trimmed(close < 0 ? inner : inner.first(close));
}

std::optional<IniDocument::KeyLine> IniDocument::keyOf(QByteArrayView line) {
    const QByteArrayView t = trimmed(line);
    if (t.isEmpty() || t.front() == ';') return std::nullopt;
    const qsizetype eq = t.indexOf('=');
    if (eq < 0) return std::nullopt;
    return KeyLine{trimmed(t.first(eq)), unquoted(trimmed(t.sliced(eq + 1)))};
}

qsizetype IniDocument::findKey(QByteArrayView section, QByteArrayView key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const QByteArrayView line = m_lines[i];
        if (const auto name = sectionOf(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection) continue;
        if (const auto kv = keyOf(line); kv && sameName(kv->key, key)) {
            return static_cast<qsizetype>(i);
        }
    }
    return -1;
}

std::optional<QByteArray> IniDocument::value(QByteArrayView section, QByteArrayView key) const {
    const qsizetype at = findKey(section, key);
    if (at < 0) return std::nullopt;
    return keyOf(m_lines[static_cast<std::size_t>(at)])->value.toByteArray();
}

void IniDocument::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value) {
    if (const qsizetype at = findKey(section, key); at >= 0) {
        QByteArray& line = m_lines[static_cast<std::size_t>(at)];
        QByteArray replaced = keyOf(line)->key.toByteArray();
        replaced.append('=').append(value);
        line = std::move(replaced);
        return;
    }
    QByteArray newLine = key.toByteArray();
    newLine.append('=').append(value);

    // Find the first section of that name and the last non-blank line inside it.
    std::optional<std::size_t> insertAfter;
    bool inFirst = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const QByteArrayView line = m_lines[i];
        if (const auto name = sectionOf(line)) {
            if (inFirst) break;
            if (sameName(*name, section)) {
                inFirst = true;
                insertAfter = i;
            }
            continue;
        }
        if (inFirst && !isBlankLine(line)) insertAfter = i;
    }
    if (insertAfter) {
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(*insertAfter + 1), newLine);
        return;
    }
    m_lines.push_back(QByteArray("[").append(section).append(']'));
    m_lines.push_back(newLine);
}

QByteArray IniDocument::toBytes() const {
    qsizetype size = 0;
    for (const QByteArray& line : m_lines) size += line.size() + 2;
    QByteArray out;
    out.reserve(size);
    for (const QByteArray& line : m_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}
