// SPDX-License-Identifier: MIT
// The port search loop on a scripted line: which ports it opens, probes and keeps, what it
// leaves in the link settings, and how it ends when stopped or when the probe fails.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "core/port_search.h"

namespace {

// Ports by name: missing ones refuse to open, silent ones open but never answer, answering
// ones set the frame flag during the wait after a probe.
class ScriptedLine {
public:
    enum class Port { Missing, Silent, Answers, AnswersWhileClosing, StaleFrameOnOpen };

    explicit ScriptedLine(LinkSettings& link) : m_link(link) {}

    PortSearch::Line line() {
        return {[this] { return open(); },
                [this] {
                    if (!m_open) return;
                    log.push_back("close");
                    if (portNow() == Port::AnswersWhileClosing && probed) frame = true;
                    m_open = false;
                },
                [this] {
                    log.push_back("probe");
                    probed = true;
                    if (throwOnProbe) throw std::runtime_error("probe failed");
                },
                [this](bool on) { frame = on; },
                [this] { return frame; },
                [this](std::uint32_t ms) {
                    log.push_back("wait " + std::to_string(ms));
                    if (duringWait) duringWait();
                    if (portNow() == Port::Answers && probed) frame = true;
                    return frame;
                },
                [this](std::uint32_t ms) { log.push_back("pause " + std::to_string(ms)); },
                [this](bool on) {
                    reporting = on;
                    reportingLog.push_back(on);
                }};
    }

    std::vector<PortCandidate> candidates(const std::vector<std::pair<QString, Port>>& ports) {
        std::vector<PortCandidate> out;
        for (const auto& [name, kind] : ports) {
            script[name] = kind;
            out.push_back({name, {}, {}, false});
        }
        return out;
    }

    std::map<QString, Port> script;
    std::vector<std::string> log;
    std::vector<LinkSettings> linkAtOpen;
    std::vector<bool> reportingLog;
    std::function<void()> duringWait;
    bool frame = false;
    bool reporting = true;
    bool probed = false;
    bool throwOnProbe = false;
    [[nodiscard]] bool isOpen() const { return m_open; }

private:
    Port portNow() const {
        const auto it = script.find(m_link.portName);
        return it == script.end() ? Port::Missing : it->second;
    }
    bool open() {
        linkAtOpen.push_back(m_link);
        log.push_back("open " + m_link.portName.toStdString());
        probed = false;
        m_open = portNow() != Port::Missing;
        // Bytes from before the open, taken by a poll while the port opened.
        if (portNow() == Port::StaleFrameOnOpen) frame = true;
        return m_open;
    }

    LinkSettings& m_link;
    bool m_open = false;
};

using P = ScriptedLine::Port;

class PortSearchTest : public ::testing::Test {
protected:
    PortSearchTest() {
        link.portName = QStringLiteral("ttyUSB9");
        link.baudRate = 115200;
        link.recvDlmt = QStringLiteral("無し");
        link.lineWidth = 64;
    }
    PortSearch::Result run(const std::vector<std::pair<QString, P>>& ports) {
        PortSearch search(
            link, scripted.line(),
            {[this](int i) { positions.push_back(i); }, [this](const QString& n) { tried << n; },
             [this](const QString& n) { listed << n; }});
        current = &search;
        const auto result = search.run(scripted.candidates(ports));
        current = nullptr;
        return result;
    }

    LinkSettings link;
    ScriptedLine scripted{link};
    PortSearch* current = nullptr;
    std::vector<int> positions;
    QStringList tried;
    QStringList listed;
};

TEST_F(PortSearchTest, StopsAtTheFirstAnsweringPortAfterAbsentOnes) {
    const auto r = run({{"COM1", P::Missing},
                        {"COM2", P::Missing},
                        {"COM3", P::Missing},
                        {"ttyUSB0", P::Answers},
                        {"ttyUSB1", P::Answers}});
    EXPECT_TRUE(r.found);
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(r.position, 3);
    EXPECT_EQ(r.opened, QStringList{"ttyUSB0"});
    EXPECT_EQ(listed, QStringList{"ttyUSB0"});
    EXPECT_EQ(tried, (QStringList{"COM1", "COM2", "COM3", "ttyUSB0"}));
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 3}));
    // Pauses follow every port that did not answer; the flag is cleared before the probe, the
    // probe waits half a second, and the port is closed before the answer is judged.
    EXPECT_EQ(scripted.log, (std::vector<std::string>{
                                "open COM1", "pause 100", "open COM2", "pause 100", "open COM3",
                                "pause 100", "open ttyUSB0", "probe", "wait 500", "close"}));
    EXPECT_EQ(link.portName, QStringLiteral("ttyUSB0"));
    EXPECT_FALSE(scripted.isOpen());
}

TEST_F(PortSearchTest, ProbesOpenWithTheLineSettingsInMemory) {
    run({{"ttyS0", P::Silent}, {"ttyS1", P::Answers}});
    ASSERT_EQ(scripted.linkAtOpen.size(), 2U);
    for (const LinkSettings& at : scripted.linkAtOpen) {
        LinkSettings expected = link;
        expected.portName = at.portName;
        EXPECT_EQ(at, expected);
    }
    EXPECT_EQ(scripted.linkAtOpen[0].portName, QStringLiteral("ttyS0"));
}

TEST_F(PortSearchTest, WithoutAnAnswerKeepsTheLastPortThatOpened) {
    const LinkSettings before = link;
    const auto r = run(
        {{"ttyS0", P::Silent}, {"ttyS1", P::Silent}, {"ttyS2", P::Missing}, {"ttyS3", P::Missing}});
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.position, 4);
    EXPECT_EQ(r.opened, (QStringList{"ttyS0", "ttyS1"}));
    LinkSettings expected = before;
    expected.portName = QStringLiteral("ttyS1");
    EXPECT_EQ(link, expected);
    EXPECT_FALSE(scripted.isOpen());
}

TEST_F(PortSearchTest, WithNoPortOpenKeepsTheNameFromBefore) {
    const LinkSettings before = link;
    const auto r = run({{"COM1", P::Missing}, {"COM2", P::Missing}});
    EXPECT_FALSE(r.found);
    EXPECT_TRUE(r.opened.isEmpty());
    EXPECT_EQ(link, before);
    const auto r2 = run({});
    EXPECT_FALSE(r2.found);
    EXPECT_EQ(r2.position, 0);
    EXPECT_EQ(link, before);
}

TEST_F(PortSearchTest, OpenFailuresAreSilentDuringTheSearchOnly) {
    run({{"COM1", P::Missing}, {"ttyS0", P::Answers}});
    EXPECT_EQ(scripted.reportingLog, (std::vector<bool>{false, true}));
    EXPECT_TRUE(scripted.reporting);
}

TEST_F(PortSearchTest, AnswerFlagIsJudgedPerProbeNotLeftOverFromBefore) {
    // A flag still set from earlier traffic must not make the first silent port count.
    scripted.frame = true;
    const auto r = run({{"ttyS0", P::Silent}, {"ttyS1", P::Silent}});
    EXPECT_FALSE(r.found);
    EXPECT_FALSE(scripted.frame);
    // Nor may a frame that came in before the probe went out.
    const auto r2 = run({{"ttyS0", P::Silent}, {"ttyS1", P::StaleFrameOnOpen}});
    EXPECT_FALSE(r2.found);
}

TEST_F(PortSearchTest, FrameArrivingWhileThePortClosesCounts) {
    const auto r = run({{"ttyS0", P::AnswersWhileClosing}, {"ttyS1", P::Answers}});
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.position, 0);
    EXPECT_EQ(link.portName, QStringLiteral("ttyS0"));
}

TEST_F(PortSearchTest, TriesAtMostNinetyNinePorts) {
    std::vector<std::pair<QString, P>> ports;
    for (int i = 0; i < 120; ++i) ports.emplace_back(QStringLiteral("p%1").arg(i), P::Silent);
    ports[110].second = P::Answers;
    const auto r = run(ports);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.position, 99);
    EXPECT_EQ(r.opened.size(), 99);
    EXPECT_EQ(link.portName, QStringLiteral("p98"));
}

TEST_F(PortSearchTest, StopEndsAtTheNextWaitAndPutsTheSettingsBackAtOnce) {
    const LinkSettings before = link;
    LinkSettings seenAfterStop;
    scripted.duringWait = [&] {
        if (scripted.log.size() < 5) return;  // stop during the second probe's wait
        current->stop();
        seenAfterStop = link;
    };
    const auto r = run({{"ttyS0", P::Silent}, {"ttyS1", P::Silent}, {"ttyS2", P::Answers}});
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.opened, (QStringList{"ttyS0", "ttyS1"}));
    EXPECT_EQ(scripted.log.back(), "close");
    EXPECT_EQ(std::count(scripted.log.begin(), scripted.log.end(), "open ttyS2"), 0);
    EXPECT_FALSE(scripted.isOpen());
    LinkSettings expected = before;
    expected.portName = QStringLiteral("ttyS1");
    // Whoever saves while the search winds down saves this, not the port under probe.
    EXPECT_EQ(seenAfterStop, expected);
    EXPECT_EQ(link, expected);
    EXPECT_TRUE(scripted.reporting);
}

TEST_F(PortSearchTest, FailingProbeStillClosesAndRestores) {
    const LinkSettings before = link;
    scripted.throwOnProbe = true;
    EXPECT_THROW(run({{"ttyS0", P::Silent}}), std::runtime_error);
    EXPECT_FALSE(scripted.isOpen());
    LinkSettings expected = before;
    expected.portName = QStringLiteral("ttyS0");
    EXPECT_EQ(link, expected);
    EXPECT_TRUE(scripted.reporting);
}

TEST(PortCandidateOrder, UsbAdaptersFirstThenNamesWithNumbersByValue) {
    const auto ordered = orderedCandidates({{"ttyS10", {}, {}, false},
                                            {"ttyUSB10", {}, {}, true},
                                            {"ttyS2", {}, {}, false},
                                            {"ttyACM0", {}, {}, true},
                                            {"ttyUSB2", {}, {}, true},
                                            {"ttyS02", {}, {}, false},
                                            {"rfcomm0", {}, {}, false}});
    QStringList names;
    for (const auto& p : ordered) names << p.name;
    EXPECT_EQ(names, (QStringList{"ttyACM0", "ttyUSB2", "ttyUSB10", "rfcomm0", "ttyS02", "ttyS2",
                                  "ttyS10"}));
}

TEST(PortCandidateOrder, KeepsDescriptionsAndCapsTheList) {
    std::vector<PortCandidate> many;
    for (int i = 0; i < 150; ++i) many.push_back({QStringLiteral("ttyS%1").arg(i), {}, {}, false});
    many.push_back({"ttyUSB0", "CP2102 USB to UART Bridge Controller", "Silicon Labs", true});
    const auto ordered = orderedCandidates(many);
    ASSERT_EQ(ordered.size(), 99U);
    EXPECT_EQ(ordered.front().name, QStringLiteral("ttyUSB0"));
    EXPECT_EQ(ordered.front().manufacturer, QStringLiteral("Silicon Labs"));
    EXPECT_EQ(ordered.back().name, QStringLiteral("ttyS97"));
}

TEST(PortCandidateOrder, WithoutAListTheSearchNamesComOneToNinetyNine) {
    const auto ports = numberedComPorts();
    ASSERT_EQ(ports.size(), 99U);
    EXPECT_EQ(ports.front().name, QStringLiteral("COM1"));
    EXPECT_EQ(ports.back().name, QStringLiteral("COM99"));
}

PortCandidate adapter(const char* name, const char* serial, quint16 product = 0x6001,
                      const char* place = "1-1.2") {
    PortCandidate c;
    c.name = QString::fromLatin1(name);
    c.description = QStringLiteral("FT232R USB UART");
    c.usb = true;
    c.serialNumber = QString::fromLatin1(serial);
    c.vendorId = 0x0403;
    c.productId = product;
    c.usbPortPath = QString::fromLatin1(place);
    return c;
}

// Stable names follow their port with its description; the search passes over them; the same
// adapter is told by serial number, else by vendor, product and place on the bus.
TEST(PortCandidateNames, StableLinksIdentityAndTheFirstStartsPort) {
    const std::vector<StableLink> links{
        {"/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", "ttyUSB0"},
        {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "ttyUSB0"},
        {"/dev/serial/by-id/usb-other", "ttyUSB9"}};
    PortCandidate uart;
    uart.name = QStringLiteral("ttyS0");
    const auto listed = withStableNames({adapter("ttyUSB0", "A1"), uart}, links);
    QStringList names;
    for (const auto& p : listed)
        names << p.name + (p.alias ? QStringLiteral(" (alias)") : QString());
    EXPECT_EQ(
        names,
        (QStringList{"ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0 (alias)",
                     "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0 (alias)", "ttyS0"}));
    EXPECT_EQ(listed[1].description, QStringLiteral("FT232R USB UART"));

    EXPECT_EQ(soleAdapterName(listed),
              QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"));
    EXPECT_EQ(soleAdapterName({adapter("ttyUSB3", "B2")}), QStringLiteral("ttyUSB3"));
    EXPECT_EQ(soleAdapterName({adapter("ttyUSB0", "A1"), adapter("ttyUSB1", "B2")}), QString());
    EXPECT_EQ(soleAdapterName({uart}), QString());

    const struct {
        PortCandidate a, b;
        bool same;
    } identities[] = {
        {adapter("ttyUSB0", "A1"), adapter("ttyUSB4", "A1", 0x6001, "3-1"), true},
        {adapter("ttyUSB0", "A1"), adapter("ttyUSB0", "B2"), false},
        {adapter("ttyUSB0", "A1"), adapter("ttyUSB0", "A1", 0x6015), false},
        {adapter("ttyUSB0", ""), adapter("ttyUSB1", ""), true},
        {adapter("ttyUSB0", ""), adapter("ttyUSB0", "", 0x6001, "1-1.3"), false},
        {uart, uart, false},
    };
    for (const auto& c : identities)
        EXPECT_EQ(sameAdapter(c.a, c.b), c.same)
            << c.a.name.toStdString() << ' ' << c.b.name.toStdString();
}

TEST_F(PortSearchTest, StableLinksAreNotSearchedTwice) {
    std::vector<PortCandidate> ports =
        scripted.candidates({{"ttyS0", P::Silent}, {"by-id", P::Silent}});
    ports[1].alias = true;
    PortSearch search(link, scripted.line(), {});
    EXPECT_EQ(search.run(ports).opened, QStringList{QStringLiteral("ttyS0")});
}

}  // namespace
