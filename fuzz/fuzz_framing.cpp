// SPDX-License-Identifier: MIT
// The receive framing. The input picks the delimiter mode (all six) and the timeout, then plays
// a sequence of polls: byte chunks of random size (literal bytes, or one byte repeated, so that
// overflow is reachable from a short input), tick steps from zero to a full 32-bit wrap, and the
// odd restart.
//
// Two Framing objects take the same polls. The first gets each chunk whole, like the receive
// pipeline, and its sink does what the pipeline does with a unit: renderHex, renderMixed, the
// one-shot table and isKeyFrameUnit. The second gets the same chunks one byte per feed() at the
// same tick, which is the same stream to the framing (it must hand over the same units), and
// lets every byte be accounted for through the public API: after each byte the unit is either
// the old unit plus the byte, or it was handed over (possibly without its CR LF pair, or as a
// single space when that pair was all of it), or the frame parse threw it away (mode None,
// right after 0F and a byte that is not 5A, or after 0F 5A and a length byte of 73 or more).
//
// In mode None a small model of the frame parse says, byte by byte, whether the unit must be
// kept, thrown away or completed as a frame, so a rule that fails to fire is caught as well as
// one that fires wrongly.
//
// Properties: no unit exceeds 4097 bytes; every byte fed is in exactly one handed-over unit, in
// the pending unit, or in those removals (bytes fed + spaces added == bytes handed over +
// pending + removed + dropped by restart); a unit is handed over only for a reason (overflow,
// its delimiter, a completed frame whose announced length is the unit's, or the timeout), and
// is never held back when one applies; quietBudgetMs() agrees with checkTimeout(); both
// Framing objects hand over the same units and capture the same IDs.

#include <QString>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "core/framing.h"
#include "core/one_shot_table.h"
#include "core/unit_render.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxUnitBytes = Framing::kMaxUnit + 1;
// Caps the work one input can ask for; a few units' worth is enough for every rule.
constexpr std::size_t kMaxFed = 16 * 1024;
constexpr int kMaxRun = 5000;

constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;

bool sameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

int asSigned(std::uint8_t b) { return static_cast<std::int8_t>(b); }

// The last byte of unit (already appended) ends it by delimiter in modes that never strip.
bool plainDelimiter(DelimiterMode mode, std::uint8_t b) {
    switch (mode) {
        case DelimiterMode::Etx:
            return b == kEtx;
        case DelimiterMode::Cr:
            return b == kCr;
        case DelimiterMode::Lf:
            return b == kLf;
        case DelimiterMode::All:
            return asSigned(b) < 32;
        case DelimiterMode::CrLf:
        case DelimiterMode::None:
            break;
    }
    return false;
}

bool endsInCrLf(const Bytes& unit) {
    const std::size_t n = unit.size();
    return n >= 2 && unit[n - 2] == kCr && unit[n - 1] == kLf;
}

// The only places the frame parse throws a unit away: the byte after 0F is not 5A, or the
// length byte after 0F 5A is 73 or more (as a signed byte).
bool headerRejects(const Bytes& unit) {
    const std::size_t n = unit.size();
    const std::uint8_t b = unit[n - 1];
    if (n >= 2 && unit[n - 2] == 0x0F && b != 0x5A) return true;
    return n >= 3 && unit[n - 3] == 0x0F && unit[n - 2] == 0x5A && asSigned(b) >= 73;
}

// A completed frame announced the unit's own length in a header inside it.
bool holdsHeaderFor(std::span<const std::uint8_t> unit, int length) {
    if (length < 1 || static_cast<std::size_t>(length) != unit.size()) return false;
    for (std::size_t o = 0; o + 2 < unit.size(); ++o) {
        if (unit[o] == 0x0F && unit[o + 1] == 0x5A && asSigned(unit[o + 2]) == length) return true;
    }
    return false;
}

// The frame parse of mode None as the receive rules describe it, kept beside the real one so
// that a unit thrown away or completed when it should not be (or kept when it should not be) is
// noticed, not only a removal that breaks the accounts.
class HeaderModel {
public:
    enum class Outcome { Keep, Discard, Frame };

    // b has just become byte number length of the unit.
    Outcome next(std::uint8_t b, std::size_t length) {
        switch (m_state) {
            case State::Scan:
                if (b == 0x0F) m_state = State::Start;
                break;
            case State::Start:
                if (b != 0x5A) return Outcome::Discard;
                m_state = State::Length;
                break;
            case State::Length:
                if (asSigned(b) >= 73) return Outcome::Discard;
                m_expected = asSigned(b);
                m_state = State::Body;
                break;
            case State::Body:
                break;
        }
        return m_expected != 0 && static_cast<std::size_t>(m_expected) == length ? Outcome::Frame
                                                                                 : Outcome::Keep;
    }

    // A unit handed over, thrown away or dropped: the parse starts afresh.
    void reset() {
        m_state = State::Scan;
        m_expected = 0;
    }

private:
    enum class State { Scan, Start, Length, Body };
    State m_state = State::Scan;
    int m_expected = 0;  // negative: announced but never reached
};

// Records what one call hands over, and checks the pairing of frameCompleted and unitFinished.
class RecordingSink : public FramingSink {
public:
    void frameCompleted(const FrameHeaderInfo& header,
                        std::span<const std::uint8_t> unit) override {
        FUZZ_CHECK(!m_frame);
        FUZZ_CHECK(holdsHeaderFor(unit, header.length));
        m_frame = Bytes(unit.begin(), unit.end());
        frames.push_back(header.length);
    }

    void unitFinished(std::span<const std::uint8_t> unit) override {
        FUZZ_CHECK(unit.size() <= kMaxUnitBytes);
        if (m_frame) {
            FUZZ_CHECK(sameBytes(unit, *m_frame));
            m_frame.reset();
        }
        units.emplace_back(unit.begin(), unit.end());
        handled(unit);
    }

    void clear() {
        FUZZ_CHECK(!m_frame);
        units.clear();
        frames.clear();
    }

    std::vector<Bytes> units;
    std::vector<int> frames;  // announced lengths, in order

protected:
    virtual void handled(std::span<const std::uint8_t> /*unit*/) {}

private:
    std::optional<Bytes> m_frame;
};

// What the receive pipeline does with each unit, with its results checked.
class RenderingSink : public RecordingSink {
public:
    RenderingSink(const Framing& framing, const std::uint32_t& now)
        : m_framing(framing), m_now(now) {}

protected:
    void handled(std::span<const std::uint8_t> unit) override {
        const QString hex = renderHex(unit);
        FUZZ_CHECK(hex.size() == static_cast<qsizetype>(unit.size()) * 4);
        for (qsizetype i = 0; i < hex.size(); i += 4) {
            FUZZ_CHECK(hex[i] == u' ' && hex[i + 3] == u'h');
        }
        const QString mixed = renderMixed(unit);
        FUZZ_CHECK(mixed.isEmpty() == unit.empty());
        // The header bytes always show as hex items.
        if (!unit.empty()) {
            FUZZ_CHECK(
                mixed.startsWith(renderHex(unit.first(std::min<std::size_t>(unit.size(), 13)))));
        }

        FUZZ_CHECK(isKeyFrameUnit(unit) == (unit.size() >= 4 && unit[3] == 0x13));

        checkOneShot(m_pipelineTable, m_framing.lastSrcId());
        // The pipeline's IDs only change in mode None; IDs from the unit's bytes fill the
        // table in every mode, so its full-table rule is reached too.
        std::array<std::uint8_t, 4> id{0xFF, 0xFF, 0xFF, 0xFF};
        for (std::size_t i = 0; i < 4 && 9 + i < unit.size(); ++i) id[i] = unit[9 + i];
        checkOneShot(m_unitTable, id);
    }

private:
    void checkOneShot(OneShotTable& table, const std::array<std::uint8_t, 4>& id) {
        const int before = table.count();
        const bool seen = table.check(id, m_now);
        const int after = table.count();
        FUZZ_CHECK(after >= 0 && after <= OneShotTable::kCapacity);
        if (seen) {
            FUZZ_CHECK(after == before);
        } else if (before < OneShotTable::kCapacity) {
            FUZZ_CHECK(after == before + 1);
            FUZZ_CHECK(table.check(id, m_now));
        } else {
            FUZZ_CHECK(after == before);
            FUZZ_CHECK(!table.check(id, m_now));
        }
        const int ms = table.msSinceTimeBase(m_now);
        FUZZ_CHECK(ms >= 0 && ms < 1000);
    }

    const Framing& m_framing;
    const std::uint32_t& m_now;
    OneShotTable m_pipelineTable;
    OneShotTable m_unitTable;
};

struct Accounts {
    std::uint64_t fed = 0;
    std::uint64_t added = 0;  // the space that stands for an empty CR LF line
    std::uint64_t handedOver = 0;
    std::uint64_t removed = 0;  // CR LF pairs and units the frame parse threw away
    std::uint64_t dropped = 0;  // pending units dropped by restart()
};

// The byte-at-a-time side: a Framing, a copy of what its pending unit must hold, and the
// accounts.
class Ledger {
public:
    Ledger(DelimiterMode mode, std::uint32_t timeout) : m_mode(mode), m_timeout(timeout) {
        m_framing.setMode(mode);
        m_framing.setTimeoutMs(timeout);
    }

    void feedByte(std::uint8_t b, std::uint32_t now) {
        m_pending.push_back(b);
        const Bytes& ext = m_pending;
        const std::size_t n = ext.size();
        using Outcome = HeaderModel::Outcome;
        const Outcome expected = m_mode == DelimiterMode::None ? m_model.next(b, n) : Outcome::Keep;
        m_sink.clear();
        m_framing.feed(std::span(&b, 1), now, m_sink);
        m_lastByteTick = now;
        ++m_accounts.fed;
        FUZZ_CHECK(m_sink.units.size() <= 1);
        const auto after = static_cast<std::size_t>(m_framing.pendingLength());

        if (m_sink.units.empty()) {
            FUZZ_CHECK(m_sink.frames.empty());
            FUZZ_CHECK(expected != Outcome::Frame);
            FUZZ_CHECK((expected == Outcome::Discard) == (after != n));
            if (after == n) {
                FUZZ_CHECK(m_framing.pendingUnit().back() == b);
                // Nothing ended the unit, so nothing that ends one may have arrived.
                FUZZ_CHECK(n <= static_cast<std::size_t>(Framing::kMaxUnit));
                FUZZ_CHECK(!plainDelimiter(m_mode, b));
                FUZZ_CHECK(!(m_mode == DelimiterMode::CrLf && endsInCrLf(ext)));
            } else {
                FUZZ_CHECK(m_mode == DelimiterMode::None && after == 0 && headerRejects(ext));
                m_accounts.removed += n;
                m_pending.clear();
                m_model.reset();
            }
        } else {
            const Bytes& unit = m_sink.units.front();
            FUZZ_CHECK(after == 0);
            FUZZ_CHECK((expected == Outcome::Frame) == !m_sink.frames.empty());
            FUZZ_CHECK(expected != Outcome::Discard || (n == kMaxUnitBytes && unit.empty()));
            if (unit == ext) {
                const bool frame =
                    !m_sink.frames.empty() && static_cast<std::size_t>(m_sink.frames[0]) == n;
                FUZZ_CHECK(n == kMaxUnitBytes || plainDelimiter(m_mode, b) || frame);
                FUZZ_CHECK(m_mode == DelimiterMode::None || m_sink.frames.empty());
            } else if (m_mode == DelimiterMode::CrLf && endsInCrLf(ext)) {
                m_accounts.removed += 2;
                if (n == 2) {
                    FUZZ_CHECK(unit == Bytes{0x20});
                    m_accounts.added += 1;
                } else {
                    FUZZ_CHECK(sameBytes(unit, std::span(ext).first(n - 2)));
                }
            } else {
                // An overflow on the very byte that makes the frame parse throw the unit away.
                FUZZ_CHECK(m_mode == DelimiterMode::None && n == kMaxUnitBytes && unit.empty() &&
                           headerRejects(ext));
                m_accounts.removed += n;
            }
            m_accounts.handedOver += unit.size();
            m_units.push_back(unit);
            m_pending.clear();
            m_model.reset();
        }
    }

    void checkTimeout(std::uint32_t now) {
        const std::uint32_t elapsed = now - m_lastByteTick;
        checkBudget(now);
        m_sink.clear();
        m_framing.checkTimeout(now, m_sink);
        FUZZ_CHECK(m_sink.frames.empty());
        if (m_sink.units.empty()) {
            FUZZ_CHECK(m_pending.empty() || elapsed <= m_timeout);
            checkPending();
            return;
        }
        FUZZ_CHECK(m_sink.units.size() == 1);
        FUZZ_CHECK(!m_pending.empty() && elapsed > m_timeout);
        FUZZ_CHECK(m_sink.units.front() == m_pending);
        FUZZ_CHECK(m_framing.pendingLength() == 0);
        m_accounts.handedOver += m_pending.size();
        m_units.push_back(m_pending);
        m_pending.clear();
        m_model.reset();
    }

    void restart() {
        m_accounts.dropped += m_pending.size();
        m_pending.clear();
        m_model.reset();
        m_framing.restart();
        FUZZ_CHECK(m_framing.pendingLength() == 0);
    }

    // The pending unit in full; cheap checks run per byte, this one per poll.
    void checkPending() const {
        FUZZ_CHECK(sameBytes(m_framing.pendingUnit(), m_pending));
        FUZZ_CHECK(m_pending.size() <= static_cast<std::size_t>(Framing::kMaxUnit));
    }

    void checkBalance() const {
        const Accounts& a = m_accounts;
        FUZZ_CHECK(a.fed + a.added == a.handedOver + m_pending.size() + a.removed + a.dropped);
    }

    // quietBudgetMs() is the wait after which checkTimeout() hands the unit over, and no less.
    void checkBudget(std::uint32_t now) const {
        const std::optional<std::uint32_t> budget = m_framing.quietBudgetMs(now);
        FUZZ_CHECK(budget.has_value() == !m_pending.empty());
        if (!budget) return;
        const std::uint64_t elapsed = static_cast<std::uint32_t>(now - m_lastByteTick);
        FUZZ_CHECK(*budget >= 1);
        if (elapsed > m_timeout) {
            FUZZ_CHECK(*budget == 1);
        } else {
            const std::uint64_t fires = std::uint64_t{m_timeout} + 1 - elapsed;
            FUZZ_CHECK(*budget ==
                       std::min<std::uint64_t>(fires, std::numeric_limits<std::uint32_t>::max()));
        }
    }

    [[nodiscard]] const Framing& framing() const { return m_framing; }
    std::vector<Bytes>& units() { return m_units; }

private:
    DelimiterMode m_mode;
    std::uint32_t m_timeout;
    Framing m_framing;
    RecordingSink m_sink;
    HeaderModel m_model;
    Bytes m_pending;
    std::vector<Bytes> m_units;  // handed over since the last comparison
    std::uint32_t m_lastByteTick = 0;
    Accounts m_accounts;
};

std::uint32_t timeoutFrom(FuzzedDataProvider& input) {
    static constexpr std::array<std::uint32_t, 7> kTimeouts{
        0, 1, 10, 100, 1000, 0x7FFFFFFF, std::numeric_limits<std::uint32_t>::max()};
    const auto pick = input.ConsumeIntegralInRange<std::size_t>(0, kTimeouts.size());
    return pick < kTimeouts.size() ? kTimeouts[pick] : input.ConsumeIntegral<std::uint32_t>();
}

std::uint32_t tickStepFrom(FuzzedDataProvider& input, std::uint32_t timeout) {
    switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0:
            return 0;
        case 1:
            return input.ConsumeIntegralInRange<std::uint32_t>(1, 300);
        case 2:
            return timeout;
        case 3:
            return timeout + 1;
        case 4:
            return timeout - 1;
        default:
            return input.ConsumeIntegral<std::uint32_t>();
    }
}

void compareSides(RecordingSink& whole, Ledger& ledger, const Framing& framing) {
    FUZZ_CHECK(whole.units == ledger.units());
    FUZZ_CHECK(sameBytes(framing.pendingUnit(), ledger.framing().pendingUnit()));
    FUZZ_CHECK(framing.lastDstId() == ledger.framing().lastDstId());
    FUZZ_CHECK(framing.lastSrcId() == ledger.framing().lastSrcId());
    whole.clear();
    ledger.units().clear();
    ledger.checkPending();
    ledger.checkBalance();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto mode = static_cast<DelimiterMode>(input.ConsumeIntegralInRange(0, 5));
    const std::uint32_t timeout = timeoutFrom(input);
    std::uint32_t now = input.ConsumeIntegral<std::uint32_t>();

    Framing framing;
    framing.setMode(mode);
    framing.setTimeoutMs(timeout);
    RenderingSink sink(framing, now);
    Ledger ledger(mode, timeout);

    std::size_t fed = 0;
    Bytes chunk;
    while (input.remaining_bytes() > 0 && fed < kMaxFed) {
        const auto op = input.ConsumeIntegralInRange(0, 7);
        if (op <= 4) {
            if (op < 4) {
                chunk = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 64));
            } else {
                const auto b = input.ConsumeIntegral<std::uint8_t>();
                chunk.assign(static_cast<std::size_t>(input.ConsumeIntegralInRange(1, kMaxRun)), b);
            }
            // One poll: its bytes, then the end-of-poll check at the same tick.
            framing.feed(chunk, now, sink);
            framing.checkTimeout(now, sink);
            for (const std::uint8_t b : chunk) ledger.feedByte(b, now);
            ledger.checkTimeout(now);
            fed += chunk.size();
        } else if (op <= 6) {
            now += tickStepFrom(input, timeout);
            FUZZ_CHECK(framing.quietBudgetMs(now) == ledger.framing().quietBudgetMs(now));
            framing.checkTimeout(now, sink);
            ledger.checkTimeout(now);
        } else {
            framing.restart();
            ledger.restart();
        }
        compareSides(sink, ledger, framing);
    }
    return 0;
}
