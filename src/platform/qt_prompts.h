#pragma once

#include "platform/prompts.h"

class QWidget;

class QtPrompts final : public Prompts {
public:
    void message(const QString& caption, const QString& text, Icon icon,
                 const QString& detail) override;
    void setParent(QWidget* parent) { m_parent = parent; }

private:
    QWidget* m_parent = nullptr;
};
