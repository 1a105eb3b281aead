#pragma once
// The remote key panel. Created hidden at start-up; the main menu's key-count entries show it.

#include "com/receive_pipeline.h"

#include <QDialog>

class AppContext;

class TfrmRem final : public QDialog, public KeyFrameTarget {
    Q_OBJECT
public:
    TfrmRem(AppContext& context, QWidget* parent = nullptr);

    void setKeyCount(int count) { m_keyCount = count; }
    [[nodiscard]] int keyCount() const { return m_keyCount; }

    // Key frames reach the panel while it is open.
    [[nodiscard]] bool wantsKeyFrames() const override { return m_openFlag; }
    void keyFrameReceived(const QString& renderedText) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    AppContext& m_ctx;
    int m_keyCount = 0;
    bool m_openFlag = false;
};
