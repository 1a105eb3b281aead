// SPDX-License-Identifier: MIT
#pragma once
// What the programs without a window share: lines to a stream, and messages that would be
// boxes in the window written to standard error instead.

#include <QString>
#include <cstdio>
#include <optional>

#include "platform/prompts.h"

inline void say(std::FILE* to, const QString& text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), to);
    std::fflush(to);
}

// The last message names what went wrong with the port, for a script's error.
class StderrPrompts final : public Prompts {
public:
    explicit StderrPrompts(QString program) : m_program(std::move(program)) {}
    void message(const QString& caption, const QString& text, Icon,
                 const QString& detail) override {
        last = detail.isEmpty() ? text : text + QStringLiteral(": ") + detail;
        say(stderr, QStringLiteral("%1: %2: %3").arg(m_program, caption, last));
    }
    bool ask(const QString&, const QString&, Icon) override { return false; }
    std::optional<QString> openFileName(const FileChoice&) override { return std::nullopt; }
    std::optional<QString> saveFileName(const FileChoice&) override { return std::nullopt; }
    QString last;

private:
    QString m_program;
};
