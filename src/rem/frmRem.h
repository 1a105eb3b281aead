#pragma once
// The remote key panel. Created hidden at start-up; the main menu's key-count entries show it.

#include <QDialog>

class AppContext;

class TfrmRem final : public QDialog {
    Q_OBJECT
public:
    TfrmRem(AppContext& context, QWidget* parent = nullptr);

    void setKeyCount(int count) { m_keyCount = count; }
    [[nodiscard]] int keyCount() const { return m_keyCount; }

private:
    AppContext& m_ctx;
    int m_keyCount = 0;
};
