// SPDX-License-Identifier: MIT
#pragma once
// An INI file held as its raw lines, read and edited the way the usual profile-file functions
// do it, so a settings file shared with other programs that read profile files keeps its layout: an
// edit changes one line, or adds one, and leaves every other byte of the file where it was.
//
// Reading rules: section and key names compare case-insensitively in ASCII (the second byte of
// a code page 932 double-byte character is compared exactly); blanks around names and values are
// dropped; one pair of matching double or single quotes around a value is removed; lines whose
// first non-blank is ';' are comments; lines without '=' are ignored, and so are keys before the
// first section. A section name may repeat: all sections of that name are searched in file order
// and the first matching key wins. Values are raw bytes and are never decoded.

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

class IniDocument {
public:
    // Lines may end in CRLF, LF or CR; a last line without an ending is still a line.
    static IniDocument parse(QByteArrayView bytes);

    [[nodiscard]] std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;

    // Replaces the line of the key that value() would read, keeping the key's spelling; else
    // adds "key=value" after the last non-blank line of the first such section; else appends
    // the section header and the key at the end. The value is written as given, so surrounding
    // blanks or quotes in it are lost on the next read, as with other profile readers. Names and
    // value must not contain line breaks.
    void setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);

    // Every line ended by CRLF.
    [[nodiscard]] QByteArray toBytes() const;

private:
    struct KeyLine {
        QByteArrayView key;
        QByteArrayView value;
    };

    static std::optional<QByteArrayView> sectionOf(QByteArrayView line);
    static std::optional<KeyLine> keyOf(QByteArrayView line);
    // Index of the line holding section/key as value() finds it, or -1.
    [[nodiscard]] qsizetype findKey(QByteArrayView section, QByteArrayView key) const;

    std::vector<QByteArray> m_lines;  // without their line endings
};
