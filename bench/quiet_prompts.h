// SPDX-License-Identifier: MIT
#pragma once
// Prompts for benchmarks: nothing may wait for a click, and any message is worth seeing.

#include "platform/prompts.h"

#include <cstdio>

class QuietPrompts final : public Prompts {
public:
    void message(const QString&, const QString& text, Icon, const QString&) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool ask(const QString&, const QString&, Icon) override { return false; }
    std::optional<QString> openFileName(const FileChoice&) override { return std::nullopt; }
    std::optional<QString> saveFileName(const FileChoice&) override { return std::nullopt; }
};
