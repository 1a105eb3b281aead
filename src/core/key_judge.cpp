// SPDX-License-Identifier: MIT
#include "core/key_judge.h"

#include <algorithm>

#include "core/ticks.h"
#include "core/maker_code.h"
#include "core/rendered_fields.h"

QString soundFileName(KeySound sound) {
    switch (sound) {
        case KeySound::Chord:
            return QStringLiteral("chord.wav");
        case KeySound::Ding:
            return QStringLiteral("ding.wav");
        case KeySound::Chimes:
            return QStringLiteral("chimes.wav");
        case KeySound::Tada:
            return QStringLiteral("tada.wav");
        case KeySound::None:
            break;
    }
    return {};
}

void toggleSetLamp(KeyPanelState& panel, int key) {
    if (key < 1 || key > kMaxKeys) return;
    panel.setLamp(key, panel.lamp(key) == LampColour::Red ? LampColour::Normal : LampColour::Red);
}

void setAllLampsRed(KeyPanelState& panel) { panel.lamps.fill(LampColour::Red); }

void resetLamps(KeyPanelState& panel) {
    for (LampColour& lamp : panel.lamps) {
        if (!panel.options.check) {
            lamp = LampColour::Normal;
        } else if (lamp == LampColour::Lime) {
            lamp = LampColour::Red;
        }
    }
}

void clearPanel(KeyPanelState& panel) {
    resetLamps(panel);
    panel.blueBackground = false;
}

void checkChanged(KeyPanelState& panel, bool on) {
    KeyOptions& o = panel.options;
    o.check = on;
    o.sound = on;
    if (!on) return;
    if (o.setCheck) setCheckChanged(panel, false);
    o.autoFocus = false;
}

void setCheckChanged(KeyPanelState& panel, bool on) {
    KeyOptions& o = panel.options;
    o.setCheck = on;
    if (!on) return;
    if (o.check) checkChanged(panel, false);
    o.autoFocus = false;
    setAllLampsRed(panel);
}

JudgeMode judgeMode(const KeyOptions& options) {
    if (options.setCheck) return JudgeMode::Set;
    if (options.check) return JudgeMode::Check;
    return JudgeMode::Neither;
}

LampColour lampAfterKey(JudgeMode mode, LampColour before) {
    switch (mode) {
        case JudgeMode::Set:
            return before == LampColour::Red ? LampColour::Normal : LampColour::Red;
        case JudgeMode::Check:
            if (before == LampColour::Red) return LampColour::Lime;
            if (before == LampColour::Lime) return LampColour::Red;
            return before;
        case JudgeMode::Neither:
            break;
    }
    return before == LampColour::Lime ? LampColour::Normal : LampColour::Lime;
}

namespace {

bool anyExpectedKeyLeft(const KeyPanelState& panel) {
    const int last = std::min(panel.keyCount, kMaxKeys);
    for (int key = 1; key <= last; ++key) {
        if (panel.lamp(key) == LampColour::Red) return true;
    }
    return false;
}

}  // namespace

KeyVerdict KeyJudge::keyFrameReceived(QStringView rendered, KeyPanelState& panel,
                                      std::uint32_t now) {
    const KeyOptions& o = panel.options;
    const auto audible = [&o](KeySound s) { return o.sound ? s : KeySound::None; };
    KeyVerdict v;

    const QString text = keyText(rendered);
    // A held key repeats its frame; every repeat pushes the window on, so a held key counts once.
    if (text == m_lastKeyText && ticksSince(m_lastKeyTime, now) < kRepeatWindowMs) {
        v.repeat = true;
        m_lastKeyTime = now;
        return v;
    }
    m_lastKeyText = text;

    if (o.onColorPanel) panel.blueBackground = true;
    panel.statusText = text.left(kMakerCodeLength);

    if (o.check && panel.statusText != panel.makerField) {
        v.sound = audible(KeySound::Chord);
        m_lastKeyTime = now;
        return v;
    }

    const int k = keyNumber(rendered);
    const int c = complementTestValue(rendered);
    if (k == kClearCode) {
        resetLamps(panel);
    } else if (k == kBackgroundResetCode) {
        if (o.onColorPanel) panel.blueBackground = false;
    } else if (k > panel.keyCount) {
        panel.statusText = QStringLiteral("Error Key: %1").arg(k);
    } else if (c == k && k >= 1 && k <= kMaxKeys) {
        v.focusKey = k;
        const LampColour before = panel.lamp(k);
        const LampColour after = lampAfterKey(judgeMode(o), before);
        if (after == before) {
            // A key that is not expected. Its time is not taken: a repeat of it is filtered only
            // within 500 ms of the frame before it, and otherwise refused again with a chord.
            v.sound = audible(KeySound::Chord);
            return v;
        }
        panel.setLamp(k, after);
        if (!o.check) {
            v.sound = audible(KeySound::Ding);
        } else if (anyExpectedKeyLeft(panel)) {
            v.sound = audible(KeySound::Chimes);
        } else {
            v.sound = audible(KeySound::Tada);
            v.checkRunComplete = true;
        }
    }
    m_lastKeyTime = now;
    return v;
}

void KeyJudge::finishCheckRun(KeyPanelState& panel, std::uint32_t now) {
    resetLamps(panel);
    m_lastKeyTime = now;
}
