// SPDX-License-Identifier: MIT
// From bytes to monitor lines: routing, cap, wrap, time stamps and One Shot, without widgets.
#include <gtest/gtest.h>

#include "session/port_driver.h"
#include "session/receive_pipeline.h"
#include "support/fake_platform.h"
#include "support/fake_serial_device.h"
#include "support/test_bytes.h"

namespace {

class FakeView final : public MonitorView {
public:
    [[nodiscard]] int lineCount() const override { return static_cast<int>(lines.size()); }
    void clearMonitor() override {
        lines.clear();
        ++clears;
    }
    void appendLines(const QStringList& more) override { lines += more; }
    void showLineCount(int count) override { status = QString::number(count); }
    void flush() override { ++flushes; }
    void flushSoon() override { ++flushes; }
    [[nodiscard]] bool logTime() const override { return logTimeOn; }
    [[nodiscard]] bool oneShot() const override { return oneShotOn; }
    [[nodiscard]] bool parameterHexMode() const override { return hexMode; }
    [[nodiscard]] QString clockText() const override {
        return QStringLiteral("2026/12/08 10:00:00");
    }
    [[nodiscard]] std::uint32_t clockChangedAt() const override { return clockAt; }

    QStringList lines;
    QString status;
    int clears = 0;
    int flushes = 0;
    bool logTimeOn = false;
    bool oneShotOn = false;
    bool hexMode = false;
    std::uint32_t clockAt = 0;
};

class FakeEvents final : public FrameEvents {
public:
    void showReceivedIds(const std::array<std::uint8_t, 4>& dst,
                         const std::array<std::uint8_t, 4>& src) override {
        ids.emplace_back(dst, src);
    }
    void applySettingsResponse(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                               std::uint8_t d) override {
        settings.push_back({a, b, c, d});
    }
    std::vector<std::pair<std::array<std::uint8_t, 4>, std::array<std::uint8_t, 4>>> ids;
    std::vector<std::array<std::uint8_t, 4>> settings;
};

class FakeTarget final : public KeyFrameTarget {
public:
    [[nodiscard]] bool wantsKeyFrames() const override { return open; }
    void keyFrameReceived(const QString& text) override { texts << text; }
    bool open = false;
    QStringList texts;
};

std::vector<std::uint8_t> bytes(const char* hex) {
    const QByteArray b = QByteArray::fromHex(hex);
    return {b.begin(), b.end()};
}

std::vector<std::uint8_t> keyFrame(std::uint8_t key, std::uint8_t srcLast = 0x01) {
    auto f = bytes("0F5A1313000000000011223300834100000000");
    f[12] = srcLast;
    f[17] = key;
    f[18] = key ^ 0xFF;
    return f;
}

class ReceivePipelineTest : public ::testing::Test {
protected:
    ReceivePipelineTest() {
        pipeline.setKeyFrameTargets(&keyPanel, &survey);
        pipeline.restart();
    }
    void feed(const std::vector<std::uint8_t>& b) { pipeline.received(b, now); }
    // Ends a pending unit by silence.
    void silence() {
        now += 200;
        pipeline.received({}, now);
    }

    LinkSettings link;
    FakeSerialDevice device;
    FakeTicks ticks;
    FakePrompts prompts;
    PortDriver port{link, device, ticks, prompts, QStringLiteral("t")};
    FakeView view;
    FakeEvents events;
    FakeTarget keyPanel;
    FakeTarget survey;
    ReceivePipeline pipeline{link, port, ticks, view, events};
    std::uint32_t now = 1000;
};

TEST_F(ReceivePipelineTest, CompleteFrameShowsIdsSetsFlagAndLine) {
    feed(bytes("0F5A10000001020304AABBCCDD000000"));
    ASSERT_EQ(events.ids.size(), 1u);
    EXPECT_EQ(events.ids[0].first, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(events.ids[0].second, (std::array<std::uint8_t, 4>{0xAA, 0xBB, 0xCC, 0xDD}));
    EXPECT_TRUE(port.state().frameReceived);
    ASSERT_EQ(view.lines.size(), 1);
    EXPECT_TRUE(view.lines[0].startsWith(QStringLiteral(" 0Fh 5Ah 10h 00h")));
    EXPECT_EQ(view.status, QStringLiteral("1"));
    EXPECT_TRUE(events.settings.empty());
}

TEST_F(ReceivePipelineTest, SettingsResponseAppliesBytes32To35) {
    const QByteArray f = testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78);
    feed({f.begin(), f.end()});
    ASSERT_EQ(events.settings.size(), 1u);
    EXPECT_EQ(events.settings[0], (std::array<std::uint8_t, 4>{0x12, 0x34, 0x56, 0x78}));
}

TEST_F(ReceivePipelineTest, KeyFramesGoToOneOpenWindowAtMost) {
    feed(keyFrame(5));
    EXPECT_TRUE(keyPanel.texts.isEmpty());
    EXPECT_TRUE(survey.texts.isEmpty());
    EXPECT_EQ(view.lines.size(), 1) << "only the monitor line when no window is open";

    survey.open = true;
    feed(keyFrame(6));
    EXPECT_EQ(survey.texts.size(), 1);

    keyPanel.open = true;
    feed(keyFrame(7));
    ASSERT_EQ(keyPanel.texts.size(), 1);
    EXPECT_EQ(survey.texts.size(), 1) << "the key panel comes first";
    EXPECT_EQ(keyPanel.texts[0].size(), 76);
    EXPECT_TRUE(keyPanel.texts[0].startsWith(QStringLiteral(" 0Fh 5Ah 13h 13h")));
    EXPECT_EQ(view.lines.last(), keyPanel.texts[0]);

    feed(bytes("414243"));
    silence();
    EXPECT_EQ(keyPanel.texts.size(), 1) << "a 3-byte unit is never a key frame";
}

TEST_F(ReceivePipelineTest, MonitorIsClearedOnceItHoldsMoreThanAThousandLines) {
    for (int i = 0; i < 1000; ++i) view.lines << QStringLiteral("x");
    feed(bytes("0F5A0D00000000000000000000"));
    EXPECT_EQ(view.lines.size(), 1001);
    feed(bytes("0F5A0D00000000000000000000"));
    EXPECT_EQ(view.lines.size(), 1);
    EXPECT_EQ(view.status, QStringLiteral("1"));
}

TEST_F(ReceivePipelineTest, AnOverflowThatEmptiesTheUnitShowsAnEmptyLine) {
    std::vector<std::uint8_t> b(4095, 0x41);
    b.push_back(0x0F);
    b.push_back(0x41);  // the 4097th byte, which also fails the header
    feed(b);
    EXPECT_EQ(view.lines, QStringList{QString()});
    EXPECT_EQ(view.status, QStringLiteral("1"));
}

TEST_F(ReceivePipelineTest, LongUnitsWrapOnceAtTheLineWidth) {
    link.lineWidth = 16;
    feed(bytes("00112233445566778899"));
    silence();
    ASSERT_EQ(view.lines.size(), 2);
    EXPECT_EQ(view.lines[0].size(), 16);
    EXPECT_EQ(view.lines[1].size(), 24);
    view.lines.clear();
    feed(std::vector<std::uint8_t>(20, 0x41));
    silence();
    ASSERT_EQ(view.lines.size(), 2);
    EXPECT_EQ(view.lines[1].size(), 64);
    view.lines.clear();
    link.lineWidth = 0;
    feed(bytes("4142"));
    silence();
    EXPECT_EQ(view.lines, (QStringList{QString(), QStringLiteral(" 41h 42h")}));
}

TEST_F(ReceivePipelineTest, LogTimeLinesAreNeverWrapped) {
    link.lineWidth = 16;
    view.logTimeOn = true;
    view.clockAt = now - 347;
    feed(std::vector<std::uint8_t>(200, 0x41));
    silence();
    ASSERT_EQ(view.lines.size(), 1);
    EXPECT_TRUE(view.lines[0].startsWith(QStringLiteral("2026/12/08 10:00:00.0")));
    EXPECT_TRUE(view.lines[0].contains(QStringLiteral(" => 41h")));
    EXPECT_EQ(view.lines[0].size(), 19 + 5 + 3 + 800);
    // The field counts from the clock's last change and never passes 999.
    view.lines.clear();
    view.clockAt = now - 5000;
    feed(bytes("41"));
    silence();
    EXPECT_TRUE(view.lines[0].startsWith(QStringLiteral("2026/12/08 10:00:00.0999 =>")));
}

TEST_F(ReceivePipelineTest, OneShotShowsEachDeviceOnceUntilReset) {
    view.logTimeOn = true;
    view.oneShotOn = true;
    feed(keyFrame(1, 0xA0));
    now += 347;
    feed(keyFrame(2, 0xA0));
    feed(keyFrame(3, 0xA0));
    feed(keyFrame(4, 0xB0));
    ASSERT_EQ(view.lines.size(), 2);
    EXPECT_TRUE(view.lines[0].startsWith(QStringLiteral("[  1] 2026/12/08 10:00:00.0000 => 0Fh")));
    EXPECT_TRUE(view.lines[1].startsWith(QStringLiteral("[  2] 2026/12/08 10:00:00.0347 =>")));
    pipeline.resetOneShot();
    feed(keyFrame(1, 0xA0));
    ASSERT_EQ(view.lines.size(), 3);
    EXPECT_TRUE(view.lines[2].startsWith(QStringLiteral("[  1]")));
}

TEST_F(ReceivePipelineTest, DelimiterAndTimeoutComeFromTheLinkSettingsAtEachStart) {
    link.recvDlmt = QStringLiteral("CR");
    link.recvTimeoutMs = 0;
    pipeline.restart();
    feed(bytes("410D42"));
    EXPECT_EQ(view.lines, QStringList{QStringLiteral(" 41h 0Dh")});
    now += 1;
    pipeline.received({}, now);
    EXPECT_EQ(view.lines.size(), 2) << "1 ms of silence is more than 0";

    link.recvTimeoutMs = -1;
    pipeline.restart();
    feed(bytes("43"));
    now += 3'600'000;
    pipeline.received({}, now);
    EXPECT_EQ(view.lines.size(), 2) << "-1 is the largest unsigned timeout: never by silence";
    feed(bytes("0D"));
    ASSERT_EQ(view.lines.size(), 3);
    EXPECT_EQ(view.lines[2], QStringLiteral(" 43h 0Dh"));
}

}  // namespace
