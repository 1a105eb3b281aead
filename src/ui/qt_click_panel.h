// SPDX-License-Identifier: MIT
#pragma once
// A sunken text panel that reports clicks and double-clicks, as the window's small panels do.

#include <QLabel>

class ClickPanel final : public QLabel {
    Q_OBJECT
public:
    explicit ClickPanel(const QString& objectName, QWidget* parent = nullptr);

    // Whether anything answers the gesture: assistive tools are offered only those.
    [[nodiscard]] bool actsOnClick() const;
    [[nodiscard]] bool actsOnDoubleClick() const;

Q_SIGNALS:
    void clicked();
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The release that ends a double-click is not a second click.
    bool m_releaseEndsDoubleClick = false;
};
