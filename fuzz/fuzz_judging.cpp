// SPDX-License-Identifier: MIT
// The readers of rendered key frames: the key panel's judge, the survey's tally and the field
// readers under both. The input is a script: rendered texts (arbitrary bytes read as Latin-1,
// UTF-8 or UTF-16, any bytes rendered as hex, or key frames built from a few bytes so that a
// short input reaches a full tally), interleaved with what the key panel's controls do to its
// state, clock steps and tally resets.
//
// Properties: nothing crashes or throws; lamps stay Normal, Red or Lime; Check and Set Check are
// never on together; a repeat changes nothing; one frame changes at most one lamp unless it is
// the clear code; focus goes only to a key that exists; silence while Sound is off; a completed
// check run leaves no expected key. The fields read from a hex rendering are the unit's bytes.
// Each tally (one with "Key Change Enabled", one without) keeps at most 100 rows, filled from
// the top with distinct devices, and its four counters count exactly the rows of each key.

#include <QString>
#include <QStringView>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/unit_render.h"
#include "fuzz_support.h"
#include "core/key_judge.h"
#include "core/key_layout.h"
#include "core/maker_code.h"
#include "core/rendered_fields.h"
#include "core/survey_tally.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kMaxSteps = 4000;

bool validLamp(LampColour c) {
    switch (c) {
        case LampColour::Normal:
        case LampColour::Red:
        case LampColour::Lime:
            return true;
    }
    return false;
}

bool validSound(KeySound s) {
    switch (s) {
        case KeySound::None:
        case KeySound::Chord:
        case KeySound::Ding:
        case KeySound::Chimes:
        case KeySound::Tada:
            return true;
    }
    return false;
}

int changedLamps(const KeyPanelState& a, const KeyPanelState& b) {
    int n = 0;
    for (std::size_t i = 0; i < a.lamps.size(); ++i) n += a.lamps[i] != b.lamps[i] ? 1 : 0;
    return n;
}

void checkPanel(const KeyPanelState& panel) {
    for (const LampColour lamp : panel.lamps) FUZZ_CHECK(validLamp(lamp));
    FUZZ_CHECK(!(panel.options.check && panel.options.setCheck));
}

// The key frame a transmitter sends: header, maker code, key, complement.
Bytes keyFrame(FuzzedDataProvider& input) {
    Bytes unit{0x0F, 0x5A, 0x13, kKeyFrameMsgId, input.ConsumeIntegral<std::uint8_t>()};
    for (int i = 0; i < 4; ++i) unit.push_back(0xFF);
    // A small pool of devices most of the time, so they repeat and also overfill the tally.
    const std::uint32_t device = input.ConsumeBool()
                                     ? input.ConsumeIntegralInRange<std::uint32_t>(0, 130)
                                     : input.ConsumeIntegral<std::uint32_t>();
    for (int shift = 24; shift >= 0; shift -= 8) {
        unit.push_back(static_cast<std::uint8_t>(device >> shift));
    }
    if (input.ConsumeIntegralInRange(0, 7) != 0) {
        unit.insert(unit.end(), {0x83, 0x41, 0x00, 0x00});
    } else {
        for (int i = 0; i < 4; ++i) unit.push_back(input.ConsumeIntegral<std::uint8_t>());
    }
    const auto key = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint8_t>(0, 5)
                                         : input.ConsumeIntegral<std::uint8_t>();
    unit.push_back(key);
    unit.push_back(input.ConsumeIntegralInRange(0, 7) != 0 ? static_cast<std::uint8_t>(key ^ 0xFF)
                                                           : input.ConsumeIntegral<std::uint8_t>());
    // Now and then cut short or with trailing bytes.
    switch (input.ConsumeIntegralInRange(0, 15)) {
        case 0:
            unit.resize(input.ConsumeIntegralInRange<std::size_t>(0, unit.size()));
            break;
        case 1:
            unit.push_back(input.ConsumeIntegral<std::uint8_t>());
            break;
        default:
            break;
    }
    return unit;
}

void checkFields(QStringView text) {
    const QString key = keyText(text);
    FUZZ_CHECK(key.size() <= kKeyTextLength);
    FUZZ_CHECK(key == text.mid(kKeyTextStart - 1, kKeyTextLength).toString() ||
               text.size() < kKeyTextStart);
    FUZZ_CHECK(makerCodeText(text) == key.left(kMakerCodeLength));
    const int number = keyNumber(text);
    FUZZ_CHECK(number >= 0 && number <= 255);
    const int complement = complementTestValue(text);
    FUZZ_CHECK(complement >= 0 && complement <= 255);
    FUZZ_CHECK(transmitterIdText(text).size() <= kDeviceIdLength);
    const QStringView head = text.first(std::min<qsizetype>(text.size(), 12));
    FUZZ_CHECK(hexFieldValue(head) == readHexField(head).value_or(0));
    (void)integerFieldValue(head);
    (void)integerFieldValue(text);
}

// Fields read back from a hex rendering are the unit's bytes.
void checkRenderedFields(const Bytes& unit, const QString& rendered) {
    const auto byte = [&unit](std::size_t i) { return static_cast<int>(unit[i]); };
    FUZZ_CHECK(keyNumber(rendered) == (unit.size() > 17 ? byte(17) : 0));
    FUZZ_CHECK(complementTestValue(rendered) == (unit.size() > 18 ? byte(18) ^ 0xFF : 0xFF));
    if (unit.size() > 12) {
        FUZZ_CHECK(transmitterIdText(rendered) == renderHex(std::span(unit).subspan(9, 4)).mid(1));
    }
    if (unit.size() > 18) {
        FUZZ_CHECK(keyText(rendered) == renderHex(std::span(unit).subspan(13, 6)).mid(1));
    }
}

void checkCopyText(FuzzedDataProvider& input, QStringView text) {
    const auto start = input.ConsumeIntegral<std::int32_t>();
    const auto count = input.ConsumeIntegral<std::int32_t>();
    const QString part = copyText(text, start, count);
    FUZZ_CHECK(part.size() <= std::max<qsizetype>(count, 0));
    FUZZ_CHECK(part.isEmpty() || text.contains(part));
}

void checkPlanKeySend(FuzzedDataProvider& input, const KeyPanelState& panel) {
    const int key = input.ConsumeIntegralInRange(-2, 260);
    const KeySend send =
        planKeySend(panel.makerField, key, panel.options.autoFocus, panel.keyCount);
    FUZZ_CHECK(!send.makerField.isEmpty());
    FUZZ_CHECK(send.payload.has_value() == makerCodeBytes(send.makerField).has_value());
    if (send.payload) {
        FUZZ_CHECK(send.payload->size() == 6);
        FUZZ_CHECK(static_cast<std::uint8_t>(send.payload->at(4)) == (key & 0xFF));
        FUZZ_CHECK(static_cast<std::uint8_t>(send.payload->at(5)) == ((key & 0xFF) ^ 0xFF));
    }
}

class Tally {
public:
    explicit Tally(bool keyChange) : m_keyChange(keyChange) { m_tally.reset(); }

    void input(QStringView text, bool running) {
        const std::array<SurveyRow, kSurveyRows> before = rows();
        const SurveyInputResult r = m_tally.keyInput(text, running, m_keyChange);
        FUZZ_CHECK(r.changedRow >= 0 && r.changedRow <= kSurveyRows);
        if (!running) FUZZ_CHECK(!r.statusChanged && !r.countersShown && r.changedRow == 0);
        if (r.statusChanged) FUZZ_CHECK(m_tally.statusText() == kSurveyMakerText);
        for (int i = 1; i <= kSurveyRows; ++i) {
            const SurveyRow& now = m_tally.row(i);
            const SurveyRow& was = before[static_cast<std::size_t>(i - 1)];
            if (i == r.changedRow) {
                FUZZ_CHECK(!was.deviceId.isEmpty() || now.deviceId == transmitterIdText(text));
                continue;
            }
            FUZZ_CHECK(now.deviceId == was.deviceId && now.key == was.key);
        }
        if (r.changedRow != 0 && !m_keyChange) {
            FUZZ_CHECK(before[static_cast<std::size_t>(r.changedRow - 1)].deviceId.isEmpty());
        }
        checkInvariants();
    }

    void reset(bool wholeRun) {
        if (wholeRun) {
            m_tally.reset();
            for (int key = 1; key <= kSurveyKeys; ++key) FUZZ_CHECK(m_tally.counterText(key) == "");
        } else {
            m_tally.clearGrid();
        }
        for (int i = 1; i <= kSurveyRows; ++i) FUZZ_CHECK(m_tally.row(i).deviceId.isEmpty());
    }

    // The counters after clearGrid() no longer match the (now empty) rows; they count again from
    // the next reset.
    [[nodiscard]] bool countsMatchRows() const { return m_countsMatchRows; }
    void setCountsMatchRows(bool on) { m_countsMatchRows = on; }

private:
    [[nodiscard]] std::array<SurveyRow, kSurveyRows> rows() const {
        std::array<SurveyRow, kSurveyRows> out;
        for (int i = 1; i <= kSurveyRows; ++i)
            out[static_cast<std::size_t>(i - 1)] = m_tally.row(i);
        return out;
    }

    void checkInvariants() const {
        std::array<int, kSurveyKeys> perKey{};
        bool freeSeen = false;
        for (int i = 1; i <= kSurveyRows; ++i) {
            const SurveyRow& row = m_tally.row(i);
            FUZZ_CHECK(m_tally.cellText(i, 1) == row.deviceId);
            FUZZ_CHECK(m_tally.cellText(i, 2) == row.key);
            if (row.deviceId.isEmpty()) {
                FUZZ_CHECK(row.key.isEmpty());
                freeSeen = true;
                continue;
            }
            // Rows fill from the top and are never freed one by one.
            FUZZ_CHECK(!freeSeen);
            const int key = integerFieldValue(row.key);
            FUZZ_CHECK(key >= 1 && key <= kSurveyKeys);
            ++perKey[static_cast<std::size_t>(key - 1)];
            for (int j = 1; j < i; ++j) FUZZ_CHECK(m_tally.row(j).deviceId != row.deviceId);
        }
        for (int key = 1; key <= kSurveyKeys; ++key) {
            const int count = m_tally.count(key);
            FUZZ_CHECK(count >= 0);
            if (m_countsMatchRows) FUZZ_CHECK(count == perKey[static_cast<std::size_t>(key - 1)]);
            const QString shown = m_tally.counterText(key);
            FUZZ_CHECK(shown.isEmpty() || shown == QString::number(count));
        }
    }

    SurveyTally m_tally;
    bool m_keyChange;
    bool m_countsMatchRows = true;
};

struct World {
    KeyJudge judge;
    KeyPanelState panel;
    Tally moving{true};
    Tally keeping{false};
    std::uint32_t now = 0;
    bool running = true;
};

void receive(World& w, FuzzedDataProvider& input, const QString& text) {
    checkFields(text);
    checkCopyText(input, text);

    const KeyPanelState before = w.panel;
    const KeyVerdict v = w.judge.keyFrameReceived(text, w.panel, w.now);
    const KeyPanelState& p = w.panel;
    checkPanel(p);
    FUZZ_CHECK(validSound(v.sound));
    FUZZ_CHECK(w.judge.lastKeyText() == keyText(text));
    if (v.repeat) {
        FUZZ_CHECK(v.sound == KeySound::None && v.focusKey == 0 && !v.checkRunComplete);
        FUZZ_CHECK(changedLamps(before, p) == 0 && p.statusText == before.statusText &&
                   p.blueBackground == before.blueBackground);
        FUZZ_CHECK(w.judge.lastKeyTime() == w.now);
    } else {
        FUZZ_CHECK(p.statusText == keyText(text).left(kMakerCodeLength) ||
                   p.statusText.startsWith(QLatin1String("Error Key: ")));
    }
    if (keyNumber(text) != kClearCode) FUZZ_CHECK(changedLamps(before, p) <= 1);
    FUZZ_CHECK(v.focusKey >= 0 && v.focusKey <= kMaxKeys);
    if (v.focusKey != 0) {
        FUZZ_CHECK(v.focusKey == keyNumber(text) && v.focusKey <= p.keyCount);
    }
    if (!p.options.sound) FUZZ_CHECK(v.sound == KeySound::None);
    if (v.checkRunComplete) {
        FUZZ_CHECK(p.options.check);
        for (int key = 1; key <= std::min(p.keyCount, kMaxKeys); ++key) {
            FUZZ_CHECK(p.lamp(key) != LampColour::Red);
        }
        w.now += kCheckRunPauseMs;
        w.judge.finishCheckRun(w.panel, w.now);
        checkPanel(w.panel);
    }

    const bool running = w.running;
    w.moving.input(text, running);
    w.keeping.input(text, running);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    World w;
    w.now = input.ConsumeIntegral<std::uint32_t>();
    w.panel.keyCount = input.ConsumeIntegralInRange(0, kMaxKeys);
    w.panel.makerField = kDefaultMakerCode;

    for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange(0, 15)) {
            case 0:
            case 1: {
                receive(w, input, fuzz::consumeText(input, 200));
                break;
            }
            case 2: {
                const Bytes unit = input.ConsumeBytes<std::uint8_t>(
                    input.ConsumeIntegralInRange<std::size_t>(0, 30));
                const QString rendered = renderHex(unit);
                checkRenderedFields(unit, rendered);
                receive(w, input, rendered);
                break;
            }
            case 3:
            case 4:
            case 5: {
                const Bytes unit = keyFrame(input);
                const QString rendered = renderHex(unit);
                checkRenderedFields(unit, rendered);
                receive(w, input, rendered);
                break;
            }
            case 6:
                toggleSetLamp(w.panel, input.ConsumeIntegralInRange(-2, kMaxKeys + 3));
                break;
            case 7:
                switch (input.ConsumeIntegralInRange(0, 2)) {
                    case 0:
                        setAllLampsRed(w.panel);
                        break;
                    case 1:
                        resetLamps(w.panel);
                        break;
                    default:
                        clearPanel(w.panel);
                        FUZZ_CHECK(!w.panel.blueBackground);
                        break;
                }
                break;
            case 8:
                checkChanged(w.panel, input.ConsumeBool());
                break;
            case 9:
                setCheckChanged(w.panel, input.ConsumeBool());
                break;
            case 10: {
                KeyOptions& o = w.panel.options;
                o.onColorPanel = input.ConsumeBool();
                o.sound = input.ConsumeBool();
                o.autoFocus = input.ConsumeBool();
                checkPlanKeySend(input, w.panel);
                break;
            }
            case 11:
                w.panel.keyCount = input.ConsumeIntegralInRange(0, kMaxKeys);
                break;
            case 12:
                w.panel.makerField =
                    input.ConsumeBool() ? kDefaultMakerCode : fuzz::consumeText(input, 24);
                break;
            case 13:
                w.now += input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint32_t>(0, 600)
                                             : input.ConsumeIntegral<std::uint32_t>();
                if (input.ConsumeIntegralInRange(0, 3) == 0) {
                    w.judge.finishCheckRun(w.panel, w.now);
                    FUZZ_CHECK(w.judge.lastKeyTime() == w.now);
                }
                break;
            case 14:
                w.running = input.ConsumeIntegralInRange(0, 7) != 0;
                break;
            default: {
                const bool wholeRun = input.ConsumeBool();
                for (Tally* t : {&w.moving, &w.keeping}) {
                    t->reset(wholeRun);
                    t->setCountsMatchRows(wholeRun);
                }
                const int maximum = runBarMaximum(fuzz::consumeText(input, 16));
                FUZZ_CHECK(maximum >= 0);
                break;
            }
        }
        checkPanel(w.panel);
    }
    return 0;
}
