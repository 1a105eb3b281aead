#pragma once
// Message boxes, behind an interface so that tests never block on one.

#include <QString>

class Prompts {
public:
    enum class Icon { None, Information, Warning, Error };

    virtual ~Prompts() = default;
    // detail: an optional second paragraph (the system's reason for a failure).
    virtual void message(const QString& caption, const QString& text, Icon icon,
                         const QString& detail = {}) = 0;
};
