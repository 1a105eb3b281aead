// SPDX-License-Identifier: MIT
#pragma once
// The remote key panel: 70 key buttons with their lamps, the option strip and a status bar.
// Created hidden at start-up; the main menu's key-count entries show it. What a key press, a
// check box or a received key frame changes is decided by the cores (key_judge.h,
// maker_code.h); the window keeps their KeyPanelState, shows it, sends, plays and focuses.

#include "session/receive_pipeline.h"
#include "core/key_judge.h"
#include "core/key_layout.h"

#include <QColor>
#include <QDialog>

#include <array>

class AppContext;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

class TfrmRem final : public QDialog, public KeyFrameTarget {
    Q_OBJECT
public:
    TfrmRem(AppContext& context, QWidget* parent = nullptr);

    // Sending and judging use a new count at once; the keys are laid out again when the panel
    // is shown, or right away if it is showing already.
    void setKeyCount(int count);
    [[nodiscard]] int keyCount() const { return m_keyCount; }

    // Key frames reach the panel while it is open.
    [[nodiscard]] bool wantsKeyFrames() const override { return m_openFlag; }
    void keyFrameReceived(const QString& renderedText) override;

    // Operations and handlers, public so that tests reach them as the controls do.
    void sendKey(int key);
    void toggleSetLamp(int key);
    void setAllLampsRed();
    void resetLamps();
    void btnK01Click(const QPushButton& button);
    void btnClearClick();
    void ckJudgeClick();
    void ckSetJudgeClick();
    void sBarDblClick();

    // The controls of key 1..70; nothing for any other number.
    [[nodiscard]] QPushButton* keyButton(int key) const;
    [[nodiscard]] QFrame* keyLamp(int key) const;

    // Controls, named as the rest of the program knows them.
    QFrame* pnlKey = nullptr;
    QFrame* pnlClear = nullptr;
    QPushButton* btnClear = nullptr;
    QCheckBox* ckOnColorPanel = nullptr;
    QCheckBox* ckSetJudge = nullptr;
    QCheckBox* ckSound = nullptr;
    QCheckBox* ckAutoFocus = nullptr;
    QCheckBox* ckJudge = nullptr;
    QLineEdit* edtMakerCode = nullptr;
    QStatusBar* sBar = nullptr;
    QLabel* sBarPanel0 = nullptr;
    QLabel* sBarPanel1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildKeyArea();
    void buildOptionStrip();
    void buildStatusBar();
    void applyLayout();
    // The colours that show a lamp's state and the key area's background.
    [[nodiscard]] QColor lampColour(LampColour lamp) const;
    [[nodiscard]] QColor keyAreaColour(bool blue) const;
    // The user edits the options and the maker code field freely: read them before each
    // decision, and show the decided state afterwards.
    void pullControls();
    void showState();
    void finishCheckRun();

    AppContext& m_ctx;
    int m_keyCount = 0;
    bool m_openFlag = false;
    KeyPanelState m_state;
    KeyJudge m_judge;
    std::array<QPushButton*, kMaxKeys> m_buttons{};
    std::array<QFrame*, kMaxKeys> m_lamps{};
};
