// SPDX-License-Identifier: MIT
#pragma once
// What the key panel does with a received key frame and with its own lamp commands, decided
// without widgets, clocks or sound: the window keeps a KeyPanelState, hands every change of its
// controls and every received frame to these functions, then shows the state, plays the sound
// and moves the focus it is told to.

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>

#include "core/key_layout.h"

enum class LampColour { Normal, Red, Lime };

enum class KeySound { None, Chord, Ding, Chimes, Tada };
// "chord.wav", "ding.wav", "chimes.wav", "tada.wav"; "" for None.
[[nodiscard]] QString soundFileName(KeySound sound);

struct KeyOptions {
    bool onColorPanel = false;  // ckOnColorPanel
    bool setCheck = false;      // ckSetJudge: marking the expected keys
    bool sound = false;         // ckSound
    bool autoFocus = false;     // ckAutoFocus
    bool check = false;         // ckJudge: judging against the marked keys
};

struct KeyPanelState {
    std::array<LampColour, kMaxKeys> lamps{};  // key k at index k - 1; hidden keys included
    bool blueBackground = false;               // pnlKey's colour
    QString statusText;                        // sBar panel 1
    QString makerField;                        // edtMakerCode
    int keyCount = 0;
    KeyOptions options;

    [[nodiscard]] LampColour lamp(int key) const { return lamps.at(static_cast<size_t>(key - 1)); }
    void setLamp(int key, LampColour c) { lamps.at(static_cast<size_t>(key - 1)) = c; }
};

// Set Check pressing a key: red becomes normal, normal and lime become red.
void toggleSetLamp(KeyPanelState& panel, int key);
void setAllLampsRed(KeyPanelState& panel);
// In check mode received keys are expected again (lime back to red); otherwise all go normal.
void resetLamps(KeyPanelState& panel);
// The Clear button, before the window sends the clear code.
void clearPanel(KeyPanelState& panel);

// The check boxes' handlers, for a box that has just changed to `on`. Each also runs the other
// box's handler when it switches that box, so Check and Set Check are never on together.
void checkChanged(KeyPanelState& panel, bool on);
void setCheckChanged(KeyPanelState& panel, bool on);

enum class JudgeMode { Set, Check, Neither };
// Set Check wins should both boxes be on (the handlers never allow that).
[[nodiscard]] JudgeMode judgeMode(const KeyOptions& options);
// The lamp of a received key; in check mode a normal lamp (a key not expected) stays normal.
[[nodiscard]] LampColour lampAfterKey(JudgeMode mode, LampColour before);

inline constexpr std::uint32_t kRepeatWindowMs = 500;
inline constexpr int kCheckRunPauseMs = 2000;

struct KeyVerdict {
    bool repeat = false;              // dropped by the repeat filter; nothing changed
    KeySound sound = KeySound::None;  // already None while Sound is off
    int focusKey = 0;                 // the key whose button takes the focus; 0: leave it
    // Every expected key has arrived: pump the UI for kCheckRunPauseMs, then finishCheckRun().
    bool checkRunComplete = false;
};

// Judges received key frames. It keeps the repeat filter's memory, which outlives the panel
// being closed and reopened.
class KeyJudge {
public:
    // `rendered` is the hex rendering of one received unit, of any length; `now` the tick count.
    KeyVerdict keyFrameReceived(QStringView rendered, KeyPanelState& panel, std::uint32_t now);
    // After a completed check run's pause: arms the run again (as the options now stand) and
    // takes the time after the pause as the frame's time, so repeats queued behind the pause
    // are still recognised.
    void finishCheckRun(KeyPanelState& panel, std::uint32_t now);

    [[nodiscard]] const QString& lastKeyText() const { return m_lastKeyText; }
    [[nodiscard]] std::uint32_t lastKeyTime() const { return m_lastKeyTime; }

private:
    QString m_lastKeyText;
    std::uint32_t m_lastKeyTime = 0;
};
