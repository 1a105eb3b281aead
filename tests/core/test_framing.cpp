// SPDX-License-Identifier: MIT
#include "core/framing.h"
#include "support/test_bytes.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Id = std::array<std::uint8_t, 4>;

Bytes hex(const char* text) { return testbytes::hexBytes(text); }

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A frame of the module: header with the given length, MsgID, DstID and SrcID, then a payload
// counting up from 0xA0 so that it holds no header bytes by accident.
Bytes frame(int length, std::uint8_t msgId, const Id& dst, const Id& src) {
    Bytes f{0x0F, 0x5A, static_cast<std::uint8_t>(length), msgId, 0x00};
    f.insert(f.end(), dst.begin(), dst.end());
    f.insert(f.end(), src.begin(), src.end());
    for (int i = 13; i < length; ++i) f.push_back(static_cast<std::uint8_t>(0xA0 + (i - 13) % 16));
    return f;
}

struct Event {
    bool frame = false;
    FrameHeaderInfo header;
    Bytes bytes;
};

class Recorder : public FramingSink {
public:
    void frameCompleted(const FrameHeaderInfo& header,
                        std::span<const std::uint8_t> unit) override {
        events.push_back({true, header, Bytes(unit.begin(), unit.end())});
    }
    void unitFinished(std::span<const std::uint8_t> unit) override {
        events.push_back({false, {}, Bytes(unit.begin(), unit.end())});
    }

    std::vector<Bytes> units() const {
        std::vector<Bytes> out;
        for (const Event& e : events) {
            if (!e.frame) out.push_back(e.bytes);
        }
        return out;
    }
    std::vector<FrameHeaderInfo> frames() const {
        std::vector<FrameHeaderInfo> out;
        for (const Event& e : events) {
            if (e.frame) out.push_back(e.header);
        }
        return out;
    }

    std::vector<Event> events;
};

Bytes pending(const Framing& f) { return Bytes(f.pendingUnit().begin(), f.pendingUnit().end()); }

Framing framing(DelimiterMode mode, std::uint32_t timeout = 100) {
    Framing f;
    f.setMode(mode);
    f.setTimeoutMs(timeout);
    return f;
}

TEST(FramingMode, DelimiterTextsAreComparedExactly) {
    const std::vector<std::pair<QString, DelimiterMode>> cases{
        {QStringLiteral("ETX"), DelimiterMode::Etx},
        {QStringLiteral("CR"), DelimiterMode::Cr},
        {QStringLiteral("LF"), DelimiterMode::Lf},
        {QStringLiteral("CRLF"), DelimiterMode::CrLf},
        {QStringLiteral("ALL"), DelimiterMode::All},
        {QStringLiteral("ALL(制御コード全般)"), DelimiterMode::All},
        {QStringLiteral("無し"), DelimiterMode::None},
        {QString(), DelimiterMode::None},
        {QStringLiteral("crlf"), DelimiterMode::None},
        {QStringLiteral("CR "), DelimiterMode::None},
        {QStringLiteral("ALL(制御コード)"), DelimiterMode::None},
        {QStringLiteral("ALL(制御コード全般) "), DelimiterMode::None},
    };
    for (const auto& [text, mode] : cases)
        EXPECT_EQ(delimiterModeFor(text), mode) << qPrintable(text);
}

TEST(FramingNone, FrameCompletesAtItsAnnouncedLength) {
    Framing f = framing(DelimiterMode::None);
    Recorder r;
    const Bytes bytes = frame(16, 0x13, {1, 2, 3, 4}, {5, 6, 7, 8});

    f.feed(std::span(bytes).first(15), 10, r);
    EXPECT_TRUE(r.events.empty());
    f.feed(std::span(bytes).subspan(15), 11, r);
    ASSERT_EQ(r.events.size(), 2u);
    ASSERT_TRUE(r.events[0].frame);
    const FrameHeaderInfo& header = r.events[0].header;
    EXPECT_EQ(header.msgId, 0x13);
    EXPECT_EQ(header.dstId, (Id{1, 2, 3, 4}));
    EXPECT_EQ(header.srcId, (Id{5, 6, 7, 8}));
    EXPECT_EQ(header.length, 16);
    EXPECT_EQ(r.events[0].bytes, bytes);
    EXPECT_FALSE(r.events[1].frame);
    EXPECT_EQ(r.events[1].bytes, bytes);
    EXPECT_EQ(f.lastDstId(), (Id{1, 2, 3, 4}));
    EXPECT_EQ(f.lastSrcId(), (Id{5, 6, 7, 8}));
    EXPECT_EQ(f.quietBudgetMs(11), std::nullopt);

    // Length 3 completes on the length byte itself, before MsgID and the IDs arrive: those of
    // the frame before are reported.
    r.events.clear();
    f.feed(hex("0F5A03"), 12, r);
    ASSERT_EQ(r.frames().size(), 1u);
    EXPECT_EQ(r.frames()[0].msgId, 0x13);
    EXPECT_EQ(r.frames()[0].srcId, (Id{5, 6, 7, 8}));
    EXPECT_EQ(r.units(), std::vector<Bytes>{hex("0F5A03")});
}

TEST(FramingNone, SettingsResponseIsRecognisedByLengthAndMsgId) {
    struct Case {
        int length;
        std::uint8_t msgId;
        bool settings;
    };
    for (const Case c : {Case{44, 0x00, true}, Case{44, 0x01, false}, Case{45, 0x00, false},
                         Case{43, 0x00, false}}) {
        Framing f = framing(DelimiterMode::None);
        Recorder r;
        Bytes bytes = frame(c.length, c.msgId, {0, 0, 0, 1}, {0, 0, 0, 2});
        std::copy_n(hex("12345678").begin(), 4, bytes.begin() + 32);
        f.feed(bytes, 0, r);
        ASSERT_EQ(r.frames().size(), 1u) << c.length;
        EXPECT_EQ(isSettingsResponse(r.frames()[0]), c.settings) << c.length << " " << c.msgId;
        EXPECT_EQ(r.events[0].bytes, bytes);
    }
}

TEST(FramingNone, LengthByteBoundaries) {
    struct Case {
        std::uint8_t lengthByte;
        bool emptied;     // rejected at the length byte
        int completesAt;  // unit length at which the frame completes; 0: never
    };
    const std::vector<Case> cases{
        {72, false, 72}, {73, true, 0}, {0x7F, true, 0}, {0x80, false, 0}, {0xFF, false, 0},
        {0, false, 0},   {2, false, 0}, {3, false, 3},   {13, false, 13},
    };
    for (const Case& c : cases) {
        Framing f = framing(DelimiterMode::None);
        Recorder r;
        f.feed(Bytes{0x0F, 0x5A, c.lengthByte}, 0, r);
        if (c.emptied) {
            EXPECT_EQ(f.pendingLength(), 0) << int(c.lengthByte);
            EXPECT_TRUE(r.events.empty());
            continue;
        }
        // Enough bytes for any reachable length, short of the overflow.
        for (int i = 3; i < 200 && r.events.empty(); ++i) f.feed(Bytes{0x11}, 0, r);
        // A length that is never reached leaves the unit to the timeout, not as a frame.
        f.checkTimeout(101, r);
        ASSERT_EQ(r.units().size(), 1u) << int(c.lengthByte);
        EXPECT_EQ(r.frames().size(), c.completesAt ? 1u : 0u);
        EXPECT_EQ(r.units()[0].size(), c.completesAt ? std::size_t(c.completesAt) : 200u);
    }
}

TEST(FramingNone, IdsAreCapturedAsTheyArriveAndPersist) {
    Framing f = framing(DelimiterMode::None);
    Recorder r;
    f.feed(frame(13, 0x00, {1, 2, 3, 4}, {5, 6, 7, 8}), 0, r);
    f.feed(hex("68656C6C6F"), 10, r);  // "hello", no header
    f.checkTimeout(111, r);
    EXPECT_EQ(f.lastDstId(), (Id{1, 2, 3, 4}));
    EXPECT_EQ(f.lastSrcId(), (Id{5, 6, 7, 8}));

    // A header cut off after two DstID bytes overwrites just those two.
    f.feed(hex("0F5A1013 00AABB"), 200, r);
    f.checkTimeout(301, r);
    EXPECT_EQ(r.units().back(), hex("0F5A101300AABB"));
    EXPECT_EQ(f.lastDstId(), (Id{0xAA, 0xBB, 3, 4}));
    EXPECT_EQ(f.lastSrcId(), (Id{5, 6, 7, 8}));
}

TEST(FramingUnits, EndWhereTheRulesSay) {
    struct Case {
        DelimiterMode mode;
        const char* input;  // hex bytes; '|' is a silence longer than the timeout
        std::vector<const char*> units;
        int frames;
        const char* pending;
    };
    using M = DelimiterMode;
    const std::vector<Case> cases{
        // Rejected headers discard the unit, stray bytes before the 0F included.
        {M::None, "0F41", {}, 0, ""},
        {M::None, "41420F41", {}, 0, ""},
        {M::None, "0F5A50 4142", {}, 0, "4142"},
        {M::None, "0F5A49", {}, 0, ""},
        {M::None, "0F5A7F", {}, 0, ""},
        // The 0F that fails step 1 does not start a header: 5A 0D are stray bytes.
        {M::None, "0F0F5A0D", {}, 0, "5A0D"},
        {M::None, "0F5A0D01 00 11111111 22222222 41", {"0F5A0D01001111111122222222"}, 1, "41"},
        // Stray bytes count toward the length: the frame ends two bytes early.
        {M::None, "4142 0F5A0D01 00 11111111 22222222", {"41420F5A0D0100111111112222"}, 1, "2222"},
        // Past the header, 0F 41 and 0F 5A 7F are payload.
        {M::None,
         "0F5A1201 00 11111111 22222222 0F410F5A7F 0F5A0D0200333333334444444444",
         {"0F5A1201001111111122222222 0F410F5A7F", "0F5A0D02003333333344444444"},
         2,
         "44"},
        // A frame cut by a pause: the rest is parsed from step 0 and never completes.
        {M::None, "0F5A0D01 00 111111|11 22222222|", {"0F5A0D0100111111", "1122222222"}, 0, ""},
        {M::None, "68656C6C6F", {}, 0, "68656C6C6F"},
        {M::None, "68656C6C6F|", {"68656C6C6F"}, 0, ""},
        {M::CrLf, "41420D0A", {"4142"}, 0, ""},
        {M::CrLf, "0D0A", {"20"}, 0, ""},
        {M::CrLf, "0D0A0D0A", {"20", "20"}, 0, ""},
        {M::CrLf, "410A", {}, 0, "410A"},
        {M::CrLf, "0A", {}, 0, "0A"},
        {M::CrLf, "0D0D0A", {"0D"}, 0, ""},
        {M::CrLf, "0D410A", {}, 0, "0D410A"},
        {M::Cr, "410D42", {"410D"}, 0, "42"},
        {M::Cr, "410D42|", {"410D", "42"}, 0, ""},
        {M::Cr, "410A", {}, 0, "410A"},
        {M::Lf, "410A42", {"410A"}, 0, "42"},
        {M::Lf, "410D", {}, 0, "410D"},
        {M::Etx, "02410342", {"024103"}, 0, "42"},
        {M::Etx, "0D0A", {}, 0, "0D0A"},
        {M::All, "41C842", {"41C8"}, 0, "42"},
        {M::All, "410D0A", {"410D", "0A"}, 0, ""},
        {M::All, "001F", {"00", "1F"}, 0, ""},
        {M::All, "207E7F", {}, 0, "207E7F"},
        {M::All, "80", {"80"}, 0, ""},
        {M::All, "FF", {"FF"}, 0, ""},
        // Delimiter modes do not follow frames: no discarding, no completion.
        {M::Cr, "0F41", {}, 0, "0F41"},
        {M::Lf, "0F5A03", {}, 0, "0F5A03"},
    };
    for (const Case& c : cases) {
        Framing f = framing(c.mode, 100);
        Recorder r;
        std::uint32_t now = 1000;
        const QList<QByteArray> pieces = QByteArray(c.input).split('|');
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0) f.checkTimeout(now += 101, r);
            f.feed(hex(pieces[i].constData()), now, r);
        }
        std::vector<Bytes> want;
        for (const char* u : c.units) want.push_back(hex(u));
        EXPECT_EQ(r.units(), want) << c.input;
        EXPECT_EQ(r.frames().size(), std::size_t(c.frames)) << c.input;
        EXPECT_EQ(pending(f), hex(c.pending)) << c.input;
    }
}

TEST(FramingOverflow, UnitIsCutAt4097BytesInEveryMode) {
    using M = DelimiterMode;
    for (const M mode : {M::None, M::Etx, M::Cr, M::Lf, M::CrLf, M::All}) {
        Framing f = framing(mode);
        Recorder r;
        // 0x41 ends no unit in any mode; fed in uneven pieces across the cut.
        f.feed(Bytes(1000, 0x41), 0, r);
        f.feed(Bytes(3096, 0x41), 0, r);
        EXPECT_TRUE(r.events.empty());
        EXPECT_EQ(f.pendingLength(), 4096);
        f.feed(Bytes(904, 0x41), 0, r);
        ASSERT_EQ(r.units().size(), 1u);
        EXPECT_EQ(r.units()[0].size(), 4097u);
        EXPECT_EQ(f.pendingLength(), 903);
    }
}

TEST(FramingOverflow, ByteThatOverflowsStillMeetsTheOtherRules) {
    {
        // A header that never completes ends by overflow, not as a frame.
        Framing f = framing(DelimiterMode::None);
        Recorder r;
        f.feed(concat(hex("0F5A80"), Bytes(4094, 0x11)), 0, r);
        ASSERT_EQ(r.units().size(), 1u);
        EXPECT_EQ(r.units()[0].size(), 4097u);
        EXPECT_TRUE(r.frames().empty());
    }
    {
        // CRLF arriving as bytes 4096 and 4097: the pair is still removed.
        Framing f = framing(DelimiterMode::CrLf);
        Recorder r;
        f.feed(concat(Bytes(4095, 0x41), hex("0D0A")), 0, r);
        ASSERT_EQ(r.units().size(), 1u);
        EXPECT_EQ(r.units()[0], Bytes(4095, 0x41));
    }
    {
        // The 4097th byte fails step 1: the unit is cut and emptied at once, so an empty unit
        // is handed over and the parse starts again.
        Framing f = framing(DelimiterMode::None);
        Recorder r;
        f.feed(concat(Bytes(4095, 0x41), hex("0F41")), 0, r);
        EXPECT_EQ(r.units(), std::vector<Bytes>{Bytes{}});
        EXPECT_EQ(f.pendingLength(), 0);
        const Bytes next = frame(13, 0, {}, {});
        f.feed(next, 0, r);
        EXPECT_EQ(r.units().back(), next);
    }
}

TEST(FramingTimeout, FiresOnlyWhenSilenceExceedsTheTimeout) {
    struct Case {
        std::uint32_t lastByte;
        std::uint32_t now;
        std::uint32_t timeout;
        bool fires;
    };
    const std::vector<Case> cases{
        {1000, 1100, 100, false},
        {1000, 1101, 100, true},
        {0xFFFFFFF0u, 0x00000010u, 31, true},
        {0xFFFFFFF0u, 0x00000010u, 32, false},
        {0xFFFFFFF0u, 0x00000054u, 100, false},
        {0xFFFFFFF0u, 0x00000055u, 100, true},
        {5, 5, 0, false},
        {5, 6, 0, true},
        {0, 0xFFFFFFFFu, 0xFFFFFFFEu, true},
        {0, 0xFFFFFFFFu, 0xFFFFFFFFu, false},
    };
    for (const Case& c : cases) {
        Framing f = framing(DelimiterMode::None, c.timeout);
        Recorder r;
        f.feed(hex("41"), c.lastByte, r);
        f.checkTimeout(c.now, r);
        EXPECT_EQ(r.units().size(), c.fires ? 1u : 0u) << c.lastByte << " " << c.now;
        EXPECT_EQ(f.pendingLength(), c.fires ? 0 : 1);
    }
    Framing f = framing(DelimiterMode::None);
    Recorder r;
    f.checkTimeout(100000, r);  // nothing pending: nothing to hand over
    EXPECT_TRUE(r.events.empty());
}

TEST(FramingTimeout, SteadyTrickleNeverTimesOut) {
    Framing f = framing(DelimiterMode::None, 100);
    Recorder r;
    std::uint32_t t = 0xFFFFFF00u;  // wraps on the way
    for (int i = 0; i < 40; ++i) {
        f.feed(Bytes{0x41}, t, r);
        f.checkTimeout(t, r);
        f.checkTimeout(t + 49, r);
        t += 50;
    }
    EXPECT_TRUE(r.events.empty());
    const std::uint32_t last = t - 50;
    f.checkTimeout(last + 101, r);
    EXPECT_EQ(r.units(), std::vector<Bytes>{Bytes(40, 0x41)});
}

TEST(FramingTimeout, QuietBudgetCountsToTheFiringTick) {
    Framing f = framing(DelimiterMode::None, 100);
    Recorder r;
    EXPECT_EQ(f.quietBudgetMs(0), std::nullopt);
    f.feed(hex("41"), 0xFFFFFFF0u, r);
    EXPECT_EQ(f.quietBudgetMs(0xFFFFFFF0u), 101u);
    EXPECT_EQ(f.quietBudgetMs(0x00000010u), 69u);  // 32 ms gone across the wrap
    EXPECT_EQ(f.quietBudgetMs(0x00000054u), 1u);   // exactly the timeout: one more to go
    EXPECT_EQ(f.quietBudgetMs(0x00000100u), 1u);   // overdue
    // Waiting the budget out is exactly what makes the check fire.
    const std::uint32_t at = 0x00000010u + *f.quietBudgetMs(0x00000010u);
    f.checkTimeout(at - 1, r);
    EXPECT_TRUE(r.events.empty());
    f.checkTimeout(at, r);
    EXPECT_EQ(r.units().size(), 1u);
    EXPECT_EQ(f.quietBudgetMs(at), std::nullopt);

    Framing wide = framing(DelimiterMode::None, 0xFFFFFFFFu);
    wide.feed(hex("41"), 7, r);
    EXPECT_EQ(wide.quietBudgetMs(7), 0xFFFFFFFFu);
    Framing zero = framing(DelimiterMode::None, 0);
    zero.feed(hex("41"), 7, r);
    EXPECT_EQ(zero.quietBudgetMs(7), 1u);
}

TEST(FramingRestart, DropsThePendingUnitAndTheHeaderInProgress) {
    Framing f = framing(DelimiterMode::None);
    Recorder r;
    f.feed(frame(13, 0, {1, 2, 3, 4}, {5, 6, 7, 8}), 0, r);
    r.events.clear();
    f.feed(hex("0F5A10"), 0, r);
    f.restart();
    EXPECT_EQ(f.pendingLength(), 0);
    EXPECT_EQ(f.quietBudgetMs(0), std::nullopt);
    // The announced length 16 is gone: 16 more bytes do not complete a frame.
    f.feed(Bytes(16, 0x22), 0, r);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(f.lastSrcId(), (Id{5, 6, 7, 8}));
}

// Explains the bytes fed as the finished units and the pending tail laid end to end, allowing
// only the removals the receive rules make: a CR LF pair at the end of a unit (leaving a space
// when the line was empty) and, in the mode None, a unit discarded by a rejected header (stray
// bytes without 0F, then 0F and a byte other than 5A, or 0F 5A and a length of 73 or more).
class Accounting {
public:
    Accounting(const Bytes& input, const std::vector<Bytes>& units, const Bytes& tail,
               DelimiterMode mode)
        : m_in(input), m_units(units), m_tail(tail), m_mode(mode) {}

    bool holds() { return from(0, 0); }

private:
    bool matches(std::size_t pos, const Bytes& want) const {
        return pos + want.size() <= m_in.size() &&
               std::equal(want.begin(), want.end(), m_in.begin() + static_cast<long>(pos));
    }

    std::optional<std::size_t> rejectedRunEnd(std::size_t pos) const {
        if (m_mode != DelimiterMode::None) return std::nullopt;
        std::size_t p = pos;
        while (p < m_in.size() && m_in[p] != 0x0F) ++p;
        if (p + 1 >= m_in.size()) return std::nullopt;
        if (m_in[p + 1] != 0x5A) return p + 2;
        if (p + 2 < m_in.size() && static_cast<std::int8_t>(m_in[p + 2]) >= 73) return p + 3;
        return std::nullopt;
    }

    bool from(std::size_t pos, std::size_t ui) {
        if (m_failed.count({pos, ui})) return false;
        bool ok = false;
        if (ui == m_units.size()) {
            ok = m_in.size() - pos == m_tail.size() && matches(pos, m_tail);
        } else {
            const Bytes& u = m_units[ui];
            ok = matches(pos, u) && from(pos + u.size(), ui + 1);
            if (!ok && m_mode == DelimiterMode::CrLf) {
                ok = matches(pos, concat(u, {0x0D, 0x0A})) && from(pos + u.size() + 2, ui + 1);
                if (!ok && u == Bytes{0x20})
                    ok = matches(pos, {0x0D, 0x0A}) && from(pos + 2, ui + 1);
            }
        }
        if (!ok) {
            if (const auto end = rejectedRunEnd(pos)) ok = from(*end, ui);
        }
        if (!ok) m_failed.insert({pos, ui});
        return ok;
    }

    const Bytes& m_in;
    const std::vector<Bytes>& m_units;
    const Bytes& m_tail;
    DelimiterMode m_mode;
    std::set<std::pair<std::size_t, std::size_t>> m_failed;
};

TEST(FramingInvariant, EveryByteIsShownPendingOrRemovedByARule) {
    using M = DelimiterMode;
    std::mt19937 rng(20240601);
    for (const M mode : {M::None, M::Etx, M::Cr, M::Lf, M::CrLf, M::All}) {
        int overflows = 0;
        int frames = 0;
        for (int round = 0; round < 20; ++round) {
            Framing f = framing(mode, 100);
            Recorder r;
            Bytes input;
            std::uint32_t now = 0xFFFF0000u + static_cast<std::uint32_t>(rng() % 0x20000);
            for (int chunk = 0; chunk < 200; ++chunk) {
                Bytes piece;
                const unsigned kind = rng() % 20;
                if (kind == 0) {
                    piece.assign(3000 + rng() % 2000, 0x41);  // long enough to overflow
                } else if (kind < 5) {
                    const int length = 13 + static_cast<int>(rng() % 60);
                    piece = frame(length, static_cast<std::uint8_t>(rng() % 2 ? 0 : 0x13),
                                  {std::uint8_t(rng()), 1, 2, 3}, {std::uint8_t(rng()), 4, 5, 6});
                } else {
                    // Bytes that matter to some rule, mixed with anything at all.
                    static constexpr std::uint8_t kRuleBytes[] = {0x0F, 0x5A, 0x03, 0x0D, 0x0A,
                                                                  0x10, 0x48, 0x49, 0x80, 0x02,
                                                                  0x1F, 0x20, 0x7F, 0x00};
                    const std::size_t n = 1 + rng() % 40;
                    for (std::size_t i = 0; i < n; ++i) {
                        piece.push_back(rng() % 2 ? kRuleBytes[rng() % std::size(kRuleBytes)]
                                                  : static_cast<std::uint8_t>(rng()));
                    }
                }
                input.insert(input.end(), piece.begin(), piece.end());
                f.feed(piece, now, r);
                f.checkTimeout(now, r);
                now += (rng() % 4 == 0) ? 101 + rng() % 50 : rng() % 100;
                f.checkTimeout(now, r);
            }

            // A frame is always handed over right after its completion, as itself.
            for (std::size_t i = 0; i < r.events.size(); ++i) {
                if (!r.events[i].frame) continue;
                ASSERT_EQ(mode, M::None);
                ASSERT_LT(i + 1, r.events.size());
                EXPECT_FALSE(r.events[i + 1].frame);
                EXPECT_EQ(r.events[i + 1].bytes, r.events[i].bytes);
                EXPECT_EQ(static_cast<int>(r.events[i].bytes.size()), r.events[i].header.length);
            }
            const std::vector<Bytes> units = r.units();
            for (const Bytes& u : units) {
                EXPECT_LE(u.size(), 4097u);
                overflows += u.size() == 4097u;
            }
            frames += static_cast<int>(r.frames().size());
            const Bytes tail = pending(f);
            Accounting accounting(input, units, tail, mode);
            EXPECT_TRUE(accounting.holds())
                << "mode " << int(mode) << " round " << round << ": " << input.size()
                << " bytes fed, " << units.size() << " units";
        }
        // The streams must reach the rules being accounted for.
        EXPECT_GT(overflows, 0) << int(mode);
        if (mode == M::None) {
            EXPECT_GT(frames, 50);
        }
    }
}

}  // namespace
