// SPDX-License-Identifier: MIT
// The virtual module's decisions without a pty: which bytes make a frame, what each frame
// is answered with, what the settings records leave behind, and the transmitters' and
// scripts' output.
#include "module_sim.h"
#include "script.h"
#include "transmitters.h"
#include "core/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace orlinsim;

Bytes hex(const char* text) {
    const std::optional<Bytes> bytes = parseHexBytes(text);
    if (!bytes) ADD_FAILURE() << "bad hex in test: " << text;
    return bytes.value_or(Bytes{});
}

std::string show(const Bytes& bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", b);
        out += pair;
    }
    return out;
}

constexpr DeviceId kModule = {0x01, 0x02, 0x03, 0x04};

// A frame as the terminal sends it, from SrcID 0A 0B 0C 0D to FF FF FF FF.
Bytes fromTerminal(std::uint8_t msgId, std::uint8_t sequence, const Bytes& payload = {}) {
    const auto length = static_cast<std::uint8_t>(13 + payload.size());
    const std::uint8_t header[] = {0x0F, 0x5A, length, msgId, sequence, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0x0A,   0x0B,  0x0C,     0x0D};
    // Sized once and filled in place: growing a vector built from a list trips a false
    // -Warray-bounds in GCC 12 at -O3.
    Bytes frame(sizeof header + payload.size());
    std::copy(std::begin(header), std::end(header), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + sizeof header);
    return frame;
}

ModuleSim makeModule(std::uint16_t sysId = 0, std::uint16_t proId = 0) {
    ModuleConfig config;
    config.id = kModule;
    config.sysId = sysId;
    config.proId = proId;
    return ModuleSim(config);
}

// The terminal's own framing reading what the module sends, so the two ends are checked
// against each other rather than against a copy of the rules.
struct TerminalSide : FramingSink {
    std::vector<FrameHeaderInfo> headers;
    std::vector<Bytes> frames;
    std::vector<Bytes> otherUnits;
    bool frameJustCompleted = false;

    void frameCompleted(const FrameHeaderInfo& header,
                        std::span<const std::uint8_t> unit) override {
        headers.push_back(header);
        frames.emplace_back(unit.begin(), unit.end());
        frameJustCompleted = true;
    }
    void unitFinished(std::span<const std::uint8_t> unit) override {
        if (!frameJustCompleted) otherUnits.emplace_back(unit.begin(), unit.end());
        frameJustCompleted = false;
    }
};

TerminalSide readByTerminal(const std::vector<Bytes>& answers) {
    Framing framing;
    TerminalSide side;
    for (const Bytes& answer : answers) framing.feed(answer, 0, side);
    framing.checkTimeout(1000, side);
    return side;
}

TEST(OrlinSimModule, AnswersEveryFrameHoweverTheBytesAreSplitOrJoined) {
    const Bytes first = fromTerminal(0x2A, 0x10, Bytes(22, 0x00));
    const Bytes second = fromTerminal(0x55, 0x11, hex("41 42"));
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());

    struct Case {
        const char* name;
        std::vector<std::size_t> cuts;  // chunk boundaries within `both`
    };
    const std::vector<Case> cases{
        {"joined in one read", {}},
        {"one byte at a time",
         [&] {
             std::vector<std::size_t> all;
             for (std::size_t i = 1; i < both.size(); ++i) all.push_back(i);
             return all;
         }()},
        {"split inside the first header", {2, 7}},
        {"split at the frame boundary", {first.size()}},
        {"second frame's start joined to the first", {first.size() + 3}},
    };
    for (const Case& c : cases) {
        ModuleSim module = makeModule();
        std::vector<Bytes> answers;
        std::vector<std::size_t> answersAfterChunk;
        std::size_t from = 0;
        std::vector<std::size_t> cuts = c.cuts;
        cuts.push_back(both.size());
        for (const std::size_t to : cuts) {
            for (Bytes& answer : module.feed(std::span(both).subspan(from, to - from),
                                             static_cast<std::uint32_t>(to))) {
                answers.push_back(std::move(answer));
            }
            answersAfterChunk.push_back(answers.size());
            from = to;
        }
        ASSERT_EQ(answers.size(), 2u) << c.name;
        // Each answer comes with the chunk that completes its frame, not later.
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            const std::size_t complete = (cuts[i] >= first.size()) + (cuts[i] >= both.size());
            EXPECT_EQ(answersAfterChunk[i], complete) << c.name << " chunk " << i;
        }
        EXPECT_EQ(show(answers[0]), show(hex("0F 5A 0F 06 00 0A 0B 0C 0D 01 02 03 04 2A 10")))
            << c.name;
        EXPECT_EQ(show(answers[1]), show(hex("0F 5A 0F 06 01 0A 0B 0C 0D 01 02 03 04 55 11")))
            << c.name;
    }
}

TEST(OrlinSimModule, AnswersAreFramesTheTerminalCutsOut) {
    ModuleSim module = makeModule(0x1234, 0x5678);
    std::vector<Bytes> answers;
    for (const Bytes& frame : {fromTerminal(0x00, 0, hex("41 42")), fromTerminal(0x7D, 1),
                               fromTerminal(0x13, 2, hex("83 41 00 00 05 FA"))}) {
        for (Bytes& answer : module.feed(frame, 0)) answers.push_back(std::move(answer));
    }
    const TerminalSide terminal = readByTerminal(answers);
    ASSERT_EQ(terminal.frames.size(), 3u);
    EXPECT_TRUE(terminal.otherUnits.empty());
    for (std::size_t i = 0; i < terminal.frames.size(); ++i) {
        EXPECT_GE(terminal.frames[i].size(), 13u);
        EXPECT_LT(terminal.frames[i].size(), 73u);
        EXPECT_EQ(terminal.headers[i].dstId, (DeviceId{0x0A, 0x0B, 0x0C, 0x0D})) << i;
        EXPECT_EQ(terminal.headers[i].srcId, kModule) << i;
        EXPECT_NE(terminal.headers[i].msgId, 0x13) << "an answer must not pass for a key frame";
        EXPECT_EQ(std::size_t{terminal.frames[i][4]}, i) << "the module numbers its own frames";
    }
    EXPECT_FALSE(isSettingsResponse(terminal.headers[0]));
    EXPECT_TRUE(isSettingsResponse(terminal.headers[1]));
    EXPECT_FALSE(isSettingsResponse(terminal.headers[2]));
}

TEST(OrlinSimModule, SettingsRecordsKeepWhatTheyCarry) {
    const ModuleSettings start{0, 15, 0, 0x1111, 0x2222};
    struct Case {
        const char* name;
        std::uint8_t msgId;
        const char* payload;
        ModuleSettings want;
    };
    const std::vector<Case> cases{
        {"short record",
         0x2A,
         "03 07 01 08 08 01 04 0A 05 03 05 FF FF 00 00 00 01 51 12 AB 83 41",
         {3, 7, 0, 0x12AB, 0x8341}},
        {"full record",
         0x7E,
         "05 09 01 08 08 01 04 0A 05 03 05 0B FF FF 00 00 00 01 51 56 78 9A BC",
         {5, 9, 0x0B, 0x5678, 0x9ABC}},
        {"nine-byte record", 0x74, "02 03 1E 01 00 04 00 0A 1E", {2, 3, 0, 0x1111, 0x2222}},
        {"channel", 0x20, "0C", {12, 15, 0, 0x1111, 0x2222}},
        {"power", 0x21, "04", {0, 4, 0, 0x1111, 0x2222}},
        {"list without a selection", 0x20, "FF", {0xFF, 15, 0, 0x1111, 0x2222}},
        {"short record one byte short", 0x2A,
         "03 07 01 08 08 01 04 0A 05 03 05 FF FF 00 00 00 01 51 12 AB 83", start},
        {"full record one byte short", 0x7E,
         "05 09 01 08 08 01 04 0A 05 03 05 0B FF FF 00 00 00 01 51 56 78 9A", start},
        {"nine-byte record one byte short", 0x74, "02 03 1E 01 00 04 00 0A", start},
        {"channel without its byte", 0x20, "", start},
        {"peer channel command", 0x17, "03 05 02 00 00 00 00 00", start},
        {"send-panel frame", 0x00, "03 07", start},
    };
    for (const Case& c : cases) {
        ModuleSim module = makeModule(0x1111, 0x2222);
        ASSERT_EQ(module.settings(), start);
        const std::vector<Bytes> answers = module.feed(fromTerminal(c.msgId, 9, hex(c.payload)), 0);
        EXPECT_EQ(module.settings(), c.want) << c.name;
        ASSERT_EQ(answers.size(), 1u) << c.name;
        EXPECT_EQ(answers[0].size(), static_cast<std::size_t>(kAckLength)) << c.name;
        EXPECT_EQ(answers[0][3], kAckMsgId) << c.name;
    }
}

TEST(OrlinSimModule, ReadIsAnsweredWithTheSettingsResponse) {
    for (const std::uint8_t read : {std::uint8_t{0x7D}, std::uint8_t{0x73}}) {
        ModuleSim module = makeModule(0x1111, 0x2222);
        module.feed(fromTerminal(0x7E, 0,
                                 hex("05 09 01 08 08 01 04 0A 05 03 05 0B FF FF 00 00 00 01 51 "
                                     "56 78 9A BC")),
                    0);
        const std::vector<Bytes> answers = module.feed(fromTerminal(read, 1), 0);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(show(answers[0]),
                  show(hex("0F 5A 2C 00 01 0A 0B 0C 0D 01 02 03 04 "
                           "05 09 01 08 08 01 04 0A 05 03 05 0B FF FF 00 00 00 01 51 "
                           "56 78 9A BC 00 00 00 00 00 00 00 00")))
            << "Read " << int(read);
    }
    // Without any record the response carries the IDs the module was started with.
    ModuleSim fresh = makeModule(0xBEEF, 0x0102);
    const std::vector<Bytes> answers = fresh.feed(fromTerminal(0x7D, 0), 0);
    ASSERT_EQ(answers.size(), 1u);
    ASSERT_EQ(answers[0].size(), 44u);
    EXPECT_EQ(show(Bytes(answers[0].begin() + 32, answers[0].begin() + 36)), "BE EF 01 02 ");
}

TEST(OrlinSimModule, NothingIsAnsweredBeforeTheAnnouncedLength) {
    for (const int length : {13, 14, 48, 72}) {
        ModuleSim module = makeModule();
        const Bytes frame =
            fromTerminal(0x44, 0, Bytes(static_cast<std::size_t>(length - 13), 0x33));
        for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
            EXPECT_TRUE(module.feed(std::span(frame).subspan(i, 1), 0).empty())
                << "length " << length << " byte " << i;
        }
        EXPECT_EQ(module.feed(std::span(frame).subspan(frame.size() - 1), 0).size(), 1u)
            << "length " << length;
    }
}

// The module takes frames as the terminal sends them, up to 13 + 82 bytes and beyond; the
// header rules are otherwise the terminal's.
TEST(OrlinSimModule, FollowsTheTerminalsFramingRulesButTakesLongFrames) {
    struct Case {
        const char* name;
        const char* bytes;
        const char* want;  // the answers, "" for none
    };
    const std::vector<Case> cases{
        {"length 73: a 60-byte parameter",
         "0F 5A 49 44 00 FF FF FF FF 0A 0B 0C 0D 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
         "0F 5A 0F 06 00 0A 0B 0C 0D 01 02 03 04 44 00"},
        {"length 95: the longest parameter, 82 bytes",
         "0F 5A 5F 44 01 FF FF FF FF 0A 0B 0C 0D 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00",
         "0F 5A 0F 06 00 0A 0B 0C 0D 01 02 03 04 44 01"},
        {"start mark broken", "0F 41 0D 44 00 FF FF FF FF 0A 0B 0C 0D", ""},
        {"text without a header", "68 65 6C 6C 6F", ""},
        // Too short to carry a SrcID: answered to everyone, with what the frame has.
        {"length 5", "0F 5A 05 44 07", "0F 5A 0F 06 00 FF FF FF FF 01 02 03 04 44 07"},
        // A stray byte counts toward the length, so the frame ends one byte early.
        {"stray byte in front", "AA 0F 5A 0D 44 07 FF FF FF FF 0A 0B 0C",
         "0F 5A 0F 06 00 FF FF FF FF 01 02 03 04 44 07"},
    };
    for (const Case& c : cases) {
        ModuleSim module = makeModule();
        std::string got;
        for (const Bytes& answer : module.feed(hex(c.bytes), 0)) got += show(answer);
        EXPECT_EQ(got, show(hex(c.want))) << c.name;
        // Whatever came before, a well-formed frame after a quiet spell is answered.
        module.checkTimeout(1000);
        EXPECT_EQ(module.feed(fromTerminal(0x44, 1), 1001).size(), 1u) << c.name;
    }
}

TEST(OrlinSimModule, PartialFrameIsDroppedWhenTheLineFallsSilent) {
    const Bytes frame = fromTerminal(0x44, 3);
    const std::span<const std::uint8_t> head = std::span(frame).first(6);
    const std::span<const std::uint8_t> tail = std::span(frame).subspan(6);
    struct Case {
        std::uint32_t pauseMs;
        std::size_t answers;
    };
    for (const Case c : {Case{40, 1u}, Case{41, 0u}}) {
        ModuleConfig config;
        config.timeoutMs = 40;
        ModuleSim module(config);
        const std::uint32_t t0 = 0xFFFFFFF0;  // across the tick wrap
        EXPECT_FALSE(module.msUntilTimeout(t0).has_value());
        EXPECT_TRUE(module.feed(head, t0).empty());
        EXPECT_EQ(module.msUntilTimeout(t0), 41u);
        module.checkTimeout(t0 + c.pauseMs);
        EXPECT_EQ(module.feed(tail, t0 + c.pauseMs).size(), c.answers) << "pause " << c.pauseMs;
    }
}

TEST(OrlinSimModule, ShapingPrefixesGarbageAndCutsAnswers) {
    const Bytes answer = hex("0F 5A 0F 06 00 0A 0B 0C 0D 01 02 03 04 2A 10");
    std::mt19937 random(7);
    struct Case {
        AnswerShaping shaping;
        std::size_t garbage;
        std::size_t kept;
    };
    for (const Case c : {Case{{0, false}, 0, 15}, Case{{3, false}, 3, 15}, Case{{0, true}, 0, 7},
                         Case{{5, true}, 5, 7}}) {
        const Bytes out = shapeAnswer(answer, c.shaping, random);
        ASSERT_EQ(out.size(), c.garbage + c.kept);
        EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(c.garbage), out.end()),
                  Bytes(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(c.kept)));
    }
    // The garbage is not one fixed filler.
    const Bytes noisy = shapeAnswer(answer, {64, false}, random);
    EXPECT_GT(std::set<std::uint8_t>(noisy.begin(), noisy.begin() + 64).size(), 8u);
}

TEST(OrlinSimTransmitters, KeyFrameIsByteExact) {
    EXPECT_EQ(show(keyFrame({0x20, 0x00, 0x00, 0x01}, 0x07, kUsualMakerCode, 5)),
              show(hex("0F 5A 13 13 07 FF FF FF FF 20 00 00 01 83 41 00 00 05 FA")));
    EXPECT_EQ(show(keyFrame({0xAA, 0xBB, 0xCC, 0xDD}, 0xFF, {0x12, 0x34, 0x56, 0x78}, 0xCC)),
              show(hex("0F 5A 13 13 FF FF FF FF FF AA BB CC DD 12 34 56 78 CC 33")));
}

TEST(OrlinSimTransmitters, IdsCountUpAsOneNumber) {
    EXPECT_EQ(transmitterId({0x20, 0x00, 0x00, 0x01}, 0), (DeviceId{0x20, 0x00, 0x00, 0x01}));
    EXPECT_EQ(transmitterId({0x20, 0x00, 0x00, 0x01}, 2), (DeviceId{0x20, 0x00, 0x00, 0x03}));
    EXPECT_EQ(transmitterId({0x20, 0x00, 0x00, 0xFF}, 1), (DeviceId{0x20, 0x00, 0x01, 0x00}));
    EXPECT_EQ(transmitterId({0xFF, 0xFF, 0xFF, 0xFF}, 1), (DeviceId{0x00, 0x00, 0x00, 0x00}));
}

TEST(OrlinSimTransmitters, CycledKeysGoRoundTransmittersAndKeys) {
    TransmitterConfig config;
    config.transmitters = 3;
    config.keys = {1, 2, 3, 4};
    config.rate = 1000;
    config.frames = 8;
    TransmitterBank bank(config, 500);
    const std::vector<Bytes> frames = bank.due(507);
    struct Want {
        std::uint8_t idLow;
        std::uint8_t sequence;
        std::uint8_t key;
    };
    const std::vector<Want> want{{1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {1, 1, 2},
                                 {2, 1, 3}, {3, 1, 4}, {1, 2, 3}, {2, 2, 4}};
    ASSERT_EQ(frames.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        const Bytes expected = keyFrame({0x20, 0x00, 0x00, want[i].idLow}, want[i].sequence,
                                        kUsualMakerCode, want[i].key);
        EXPECT_EQ(show(frames[i]), show(expected)) << "frame " << i;
    }
    EXPECT_TRUE(bank.finished());
    EXPECT_FALSE(bank.msUntilNext(600).has_value());
    EXPECT_TRUE(bank.due(10000).empty());
}

TEST(OrlinSimTransmitters, FramesAreSpreadOverTimeAtTheRate) {
    TransmitterConfig config;
    config.transmitters = 2;
    config.rate = 4;                         // one frame every 250 ms
    const std::uint32_t start = 0xFFFFFF00;  // the pace holds across the tick wrap
    TransmitterBank bank(config, start);
    EXPECT_EQ(bank.msUntilNext(start), 0u);
    EXPECT_EQ(bank.due(start).size(), 1u);
    EXPECT_EQ(bank.msUntilNext(start), 250u);
    EXPECT_TRUE(bank.due(start + 249).empty());
    EXPECT_EQ(bank.msUntilNext(start + 249), 1u);
    EXPECT_EQ(bank.due(start + 250).size(), 1u);
    // Late polls catch up with every frame due meanwhile, and the pace does not drift.
    EXPECT_EQ(bank.due(start + 1000).size(), 3u);
    EXPECT_EQ(bank.msUntilNext(start + 1000), 250u);
    EXPECT_EQ(bank.sent(), 5u);
    EXPECT_FALSE(bank.finished()) << "no count: forever";
}

TEST(OrlinSimTransmitters, RandomKeysComeFromTheListAndRepeatWithTheSeed) {
    const auto keysOf = [](std::uint32_t seed, std::vector<std::uint8_t> keys) {
        TransmitterConfig config;
        config.transmitters = 2;
        config.keys = std::move(keys);
        config.random = true;
        config.seed = seed;
        config.rate = 1000;
        config.frames = 200;
        TransmitterBank bank(config, 0);
        std::vector<std::uint8_t> pressed;
        for (const Bytes& frame : bank.due(1000)) {
            EXPECT_EQ(frame[18], frame[17] ^ 0xFF);
            pressed.push_back(frame[17]);
        }
        return pressed;
    };
    const std::vector<std::uint8_t> a = keysOf(42, {1, 3, 5});
    ASSERT_EQ(a.size(), 200u);
    EXPECT_EQ(a, keysOf(42, {1, 3, 5}));
    EXPECT_NE(a, keysOf(43, {1, 3, 5}));
    EXPECT_EQ(std::set<std::uint8_t>(a.begin(), a.end()), (std::set<std::uint8_t>{1, 3, 5}));
    const std::vector<std::uint8_t> one = keysOf(42, {9});
    EXPECT_EQ(std::set<std::uint8_t>(one.begin(), one.end()), (std::set<std::uint8_t>{9}));
}

TEST(OrlinSimTransmitters, KeyListTexts) {
    struct Case {
        const char* text;
        std::optional<std::vector<std::uint8_t>> want;
    };
    const std::vector<Case> cases{
        {"1-4", std::vector<std::uint8_t>{1, 2, 3, 4}},
        {"1,3,5", std::vector<std::uint8_t>{1, 3, 5}},
        {"1-3,204,255", std::vector<std::uint8_t>{1, 2, 3, 204, 255}},
        {"7", std::vector<std::uint8_t>{7}},
        {"5-5", std::vector<std::uint8_t>{5}},
        {"0xCC", std::vector<std::uint8_t>{0xCC}},
        {"2,2", std::vector<std::uint8_t>{2, 2}},
        {"", std::nullopt},
        {"4-1", std::nullopt},
        {"1-", std::nullopt},
        {"-3", std::nullopt},
        {"1,,2", std::nullopt},
        {"1,", std::nullopt},
        {"256", std::nullopt},
        {"1 - 4", std::nullopt},
        {"a", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseKeyList(c.text), c.want) << c.text;
}

TEST(OrlinSimScript, TextForms) {
    EXPECT_EQ(parseHexBytes("0F 5A\t0d0E"), hex("0F 5A 0D 0E"));
    EXPECT_EQ(parseHexBytes(""), Bytes{});
    for (const char* bad : {"0F 5", "0x0F", "0F,5A", "GG", "0F 5A F"}) {
        EXPECT_FALSE(parseHexBytes(bad).has_value()) << bad;
    }
    EXPECT_EQ(parseDeviceId("01 02 03 04"), (DeviceId{1, 2, 3, 4}));
    EXPECT_EQ(parseDeviceId("A0B0C0D0"), (DeviceId{0xA0, 0xB0, 0xC0, 0xD0}));
    EXPECT_FALSE(parseDeviceId("01 02 03").has_value());
    EXPECT_FALSE(parseDeviceId("01 02 03 04 05").has_value());

    struct NumberCase {
        const char* text;
        std::uint64_t max;
        std::optional<std::uint64_t> want;
    };
    const std::vector<NumberCase> numbers{
        {"4660", 0xFFFF, 4660},          {"0x12AB", 0xFFFF, 0x12AB},   {"0XFFFF", 0xFFFF, 0xFFFF},
        {"65536", 0xFFFF, std::nullopt}, {"0x", 0xFFFF, std::nullopt}, {"", 10, std::nullopt},
        {"-1", 10, std::nullopt},        {"12a", 100, std::nullopt},   {" 5", 10, std::nullopt},
    };
    for (const NumberCase& c : numbers) EXPECT_EQ(parseNumber(c.text, c.max), c.want) << c.text;
}

TEST(OrlinSimScript, LinesAreWritesSleepsOrComments) {
    struct Case {
        const char* line;
        bool command;
        bool error;
        ScriptCommand::Kind kind;
        const char* bytes;
        std::uint32_t ms;
    };
    using K = ScriptCommand::Kind;
    const std::vector<Case> cases{
        {"0F 5A 0D 00 00", true, false, K::Write, "0F 5A 0D 00 00", 0},
        {"  0f5a  # a frame's start\r", true, false, K::Write, "0F 5A", 0},
        {"sleep 50", true, false, K::Sleep, "", 50},
        {"sleep\t0x10 # sixteen", true, false, K::Sleep, "", 16},
        {"", false, false, K::Write, "", 0},
        {"   # only a comment", false, false, K::Write, "", 0},
        {"#0F 5A", false, false, K::Write, "", 0},
        {"sleep", false, true, K::Write, "", 0},
        {"sleep50", false, true, K::Write, "", 0},
        {"sleep -5", false, true, K::Write, "", 0},
        {"sleep 5 6", false, true, K::Write, "", 0},
        {"0F 5A 0", false, true, K::Write, "", 0},
        {"write 0F", false, true, K::Write, "", 0},
    };
    for (const Case& c : cases) {
        const ScriptLine got = parseScriptLine(c.line);
        EXPECT_EQ(got.command.has_value(), c.command) << c.line;
        EXPECT_EQ(got.error.has_value(), c.error) << c.line;
        if (!got.command) continue;
        EXPECT_EQ(got.command->kind, c.kind) << c.line;
        EXPECT_EQ(got.command->bytes, hex(c.bytes)) << c.line;
        EXPECT_EQ(got.command->ms, c.ms) << c.line;
    }
}

TEST(OrlinSimScript, SleepsHoldBackTheCommandsBehindThem) {
    ScriptRunner script;
    for (const char* line : {"01 02", "03", "sleep 50", "04", "sleep 0", "05", "sleep 20"}) {
        script.add(*parseScriptLine(line).command);
    }
    const std::uint32_t t0 = 0xFFFFFFF0;  // sleeps end correctly across the tick wrap
    EXPECT_EQ(script.run(t0), (std::vector<Bytes>{hex("01 02"), hex("03")}));
    EXPECT_EQ(script.msUntilNext(t0), 50u);
    EXPECT_TRUE(script.run(t0 + 49).empty());
    EXPECT_EQ(script.msUntilNext(t0 + 49), 1u);
    EXPECT_EQ(script.run(t0 + 50), (std::vector<Bytes>{hex("04"), hex("05")}));
    // A sleep with nothing behind it is nothing to wait for, until more lines come.
    EXPECT_FALSE(script.msUntilNext(t0 + 50).has_value());
    EXPECT_TRUE(script.idle());
    script.add(*parseScriptLine("06").command);
    EXPECT_EQ(script.msUntilNext(t0 + 60), 10u);
    EXPECT_TRUE(script.run(t0 + 60).empty());
    EXPECT_EQ(script.run(t0 + 70), (std::vector<Bytes>{hex("06")}));
}

TEST(OrlinSimScript, LineBufferJoinsChunksAndDropsCr) {
    LineBuffer lines;
    EXPECT_TRUE(lines.push("0F 5").empty());
    EXPECT_EQ(lines.push("A\r\nsleep 5\n\nAB"), (std::vector<std::string>{"0F 5A", "sleep 5", ""}));
    EXPECT_EQ(lines.finish(), std::optional<std::string>("AB"));
    EXPECT_FALSE(lines.finish().has_value());
}

}  // namespace
