// SPDX-License-Identifier: MIT
#pragma once
// Test doubles for the OS services: ticks that move only when told, prompts that record
// instead of blocking, sounds that are only counted.

#include "platform/prompts.h"
#include "platform/sound.h"
#include "core/ticks.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class FakeTicks final : public Ticks {
public:
    explicit FakeTicks(std::uint32_t start = 0) : m_now(start) {}
    [[nodiscard]] std::uint32_t now() const override { return m_now; }
    void advance(std::uint32_t ms) { m_now += ms; }
    void set(std::uint32_t t) { m_now = t; }

private:
    std::uint32_t m_now;
};

class FakePrompts final : public Prompts {
public:
    struct Shown {
        QString caption;
        QString text;
        Icon icon;
        QString detail;
    };
    void message(const QString& caption, const QString& text, Icon icon,
                 const QString& detail) override {
        shown.push_back({caption, text, icon, detail});
    }
    bool ask(const QString& caption, const QString& text, Icon icon) override {
        questions.push_back({caption, text, icon, {}});
        return answerYes;
    }
    std::optional<QString> openFileName(const FileChoice& choice) override {
        fileChoices.push_back(choice);
        return takeAnswer();
    }
    std::optional<QString> saveFileName(const FileChoice& choice) override {
        fileChoices.push_back(choice);
        return takeAnswer();
    }

    std::vector<Shown> shown;
    std::vector<Shown> questions;
    bool answerYes = true;
    std::vector<FileChoice> fileChoices;
    // Answers of the next file dialogs, in order; an empty one or none left means Cancel.
    QStringList fileAnswers;

private:
    std::optional<QString> takeAnswer() {
        if (fileAnswers.isEmpty()) return std::nullopt;
        const QString answer = fileAnswers.takeFirst();
        if (answer.isEmpty()) return std::nullopt;
        return answer;
    }
};

class FakeSound final : public Sound {
public:
    void play(const QString& wavName) override { played << wavName; }
    QStringList played;
};
