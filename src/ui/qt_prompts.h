// SPDX-License-Identifier: MIT
#pragma once

#include "platform/prompts.h"

class QWidget;

class QtPrompts final : public Prompts {
public:
    void message(const QString& caption, const QString& text, Icon icon,
                 const QString& detail) override;
    bool ask(const QString& caption, const QString& text, Icon icon) override;
    std::optional<QString> openFileName(const FileChoice& choice) override;
    std::optional<QString> saveFileName(const FileChoice& choice) override;
    void setParent(QWidget* parent) { m_parent = parent; }

private:
    std::optional<QString> runFileDialog(const FileChoice& choice, bool save);

    QWidget* m_parent = nullptr;
};
