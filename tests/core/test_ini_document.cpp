// SPDX-License-Identifier: MIT
// Reading and editing must match the usual profile-file rules closely enough that a file shared
// with other programs that read profile files reads the same on both sides and keeps its layout across saves.
#include <gtest/gtest.h>

#include <optional>

#include "core/ini_document.h"

namespace {

TEST(IniDocumentLines, AnyLineEndingBecomesCrlf) {
    const struct {
        QByteArray in;
        QByteArray out;
    } cases[] = {
        {"", ""},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\rb\r", "a\r\nb\r\n"},
        {"a\r\n\nb\r\rc", "a\r\n\r\nb\r\n\r\nc\r\n"},
        {"no ending", "no ending\r\n"},
        {"\n", "\r\n"},
        {"\r\n\r\n", "\r\n\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniDocument::parse(c.in).toBytes(), c.out) << c.in.toHex().constData();
    }
}

TEST(IniDocumentLines, KeepsUnusualLinesByteForByte) {
    const QByteArray text =
        "stray before any section\r\n"
        "  ; indented comment \t\r\n"
        "[ COMPORT ]  trailing\r\n"
        "\t PortName \t=  \"COM2\"  \r\n"
        "no equals sign\r\n"
        "\xe6\x97\xa5=\x96\xb3\r\n"
        "   \r\n";
    EXPECT_EQ(IniDocument::parse(text).toBytes(), text);
}

const QByteArray kLookupText =
    "Top=before sections\n"
    "[COMPORT]\n"
    "  PortName  =  COM3  \n"
    "portname=second\n"
    ";BaudRate=1200\n"
    "  ;ByteSize=7\n"
    "StopBits\n"
    "Parity__=\"EVEN\"\n"
    "SendHead='x'\n"
    "SendDlmt=\"mixed'\n"
    "RecvHead=\"\n"
    "RecvDlmt=\"\"\n"
    "RecvTout=\n"
    "Expr=a=b\n"
    "Inner=\" padded \"\n"
    "[ Other ]\n"
    "PortName=other section\n"
    "[comport]\n"
    "BaudRate=9600\n"
    "PortName=shadowed\n"
    "[Open\n"
    "K=open header\n"
    "[\x83\x41]\n"
    "K=katakana a\n"
    "[\x83\x5D]\n"
    "K=trail bracket\n";

TEST(IniDocumentValue, ReadsLikeProfileFunctions) {
    const IniDocument doc = IniDocument::parse(kLookupText);
    const struct {
        const char* section;
        const char* key;
        std::optional<QByteArray> expected;
    } cases[] = {
        {"COMPORT", "PortName", "COM3"},        // blanks trimmed, first duplicate wins
        {"comport", "PORTNAME", "COM3"},        // names compare case-insensitively
        {"COMPORT", "BaudRate", "9600"},        // comment skipped; found in the repeated section
        {"COMPORT", "ByteSize", std::nullopt},  // indented comment
        {"COMPORT", "StopBits", std::nullopt},  // line without '='
        {"COMPORT", "Parity__", "EVEN"},        // double quotes stripped
        {"COMPORT", "SendHead", "x"},           // single quotes stripped
        {"COMPORT", "SendDlmt", "\"mixed'"},    // mismatched quotes kept
        {"COMPORT", "RecvHead", "\""},          // a lone quote is not a pair
        {"COMPORT", "RecvDlmt", ""},
        {"COMPORT", "RecvTout", ""},       // present but empty, not absent
        {"COMPORT", "Expr", "a=b"},        // split at the first '='
        {"COMPORT", "Inner", " padded "},  // quotes protect inner blanks
        {"Other", "PortName", "other section"},
        {"", "Top", std::nullopt},  // keys before any section are not reachable
        {"Missing", "PortName", std::nullopt},
        {"Open", "K", "open header"},
        {"\x83\x41", "K", "katakana a"},
        {"\x83\x61", "K", std::nullopt},  // a different character, though 'A' vs 'a'
        {"\x83\x5D", "K", "trail bracket"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(doc.value(c.section, c.key), c.expected) << c.section << '/' << c.key;
    }
}

TEST(IniDocumentSetValue, EditsOnlyTheLineItMust) {
    const QByteArray original =
        "; header comment\r\n"
        "[A]\r\n"
        "  KEY  =  old  \r\n"
        "key=duplicate\r\n"
        "\r\n"
        "[B]\r\n"
        "x=1\r\n"
        "; trailing comment of B\r\n"
        "\r\n"
        "\r\n"
        "[a]\r\n"
        "late=1\r\n";
    const struct {
        const char* name;
        const char* section;
        const char* key;
        const char* value;
        QByteArray expected;
    } cases[] = {
        {"replace keeps spelling and position", "a", "Key", "new",
         "; header comment\r\n[A]\r\nKEY=new\r\nkey=duplicate\r\n\r\n[B]\r\nx=1\r\n"
         "; trailing comment of B\r\n\r\n\r\n[a]\r\nlate=1\r\n"},
        {"append after last non-blank line of the section", "B", "y", "2",
         "; header comment\r\n[A]\r\n  KEY  =  old  \r\nkey=duplicate\r\n\r\n[B]\r\nx=1\r\n"
         "; trailing comment of B\r\ny=2\r\n\r\n\r\n[a]\r\nlate=1\r\n"},
        {"append goes to the first of repeated sections", "A", "new", "v",
         "; header comment\r\n[A]\r\n  KEY  =  old  \r\nkey=duplicate\r\nnew=v\r\n\r\n[B]\r\n"
         "x=1\r\n; trailing comment of B\r\n\r\n\r\n[a]\r\nlate=1\r\n"},
        {"key found in a later repeated section is replaced there", "A", "LATE", "2",
         "; header comment\r\n[A]\r\n  KEY  =  old  \r\nkey=duplicate\r\n\r\n[B]\r\nx=1\r\n"
         "; trailing comment of B\r\n\r\n\r\n[a]\r\nlate=2\r\n"},
        {"new section at the end", "C", "k", " raw ",
         "; header comment\r\n[A]\r\n  KEY  =  old  \r\nkey=duplicate\r\n\r\n[B]\r\nx=1\r\n"
         "; trailing comment of B\r\n\r\n\r\n[a]\r\nlate=1\r\n[C]\r\nk= raw \r\n"},
    };
    for (const auto& c : cases) {
        IniDocument doc = IniDocument::parse(original);
        doc.setValue(c.section, c.key, c.value);
        EXPECT_EQ(doc.toBytes(), c.expected) << c.name;
    }
}

TEST(IniDocumentSetValue, ValueReadsBackAfterEveryKindOfEdit) {
    IniDocument doc = IniDocument::parse("[S]\nk=\"q\"\n[s]\nlate=1\n");
    doc.setValue("S", "k", "one");
    doc.setValue("S", "late", "two");
    doc.setValue("S", "added", "three");
    doc.setValue("T", "k", "four");
    EXPECT_EQ(doc.value("s", "K"), QByteArray("one"));
    EXPECT_EQ(doc.value("S", "late"), QByteArray("two"));
    EXPECT_EQ(doc.value("S", "added"), QByteArray("three"));
    EXPECT_EQ(doc.value("T", "k"), QByteArray("four"));
    EXPECT_EQ(doc.toBytes(), "[S]\r\nk=one\r\nadded=three\r\n[s]\r\nlate=two\r\n[T]\r\nk=four\r\n");
}

TEST(IniDocumentSetValue, EmptyDocumentGetsSectionAndKey) {
    IniDocument doc;
    doc.setValue("COMPORT", "PortName", "");
    EXPECT_EQ(doc.toBytes(), "[COMPORT]\r\nPortName=\r\n");
    EXPECT_EQ(doc.value("COMPORT", "PortName"), QByteArray(""));
}

}  // namespace
