// SPDX-License-Identifier: MIT
#pragma once
// The port search without its window: try each candidate port in turn, probe the ones that
// open and stop at the first on which the module answers with a complete frame. The line is
// reached through small callbacks so that tests can play ports that are missing, silent or
// answering.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/link_settings.h"
#include "core/port_candidates.h"

class PortSearch {
public:
    // The progress bar runs 0..99 whatever the number of candidates.
    static constexpr int kMaxPorts = kMaxPortCandidates;
    static constexpr std::uint32_t kAnswerWaitMs = 500;
    static constexpr std::uint32_t kPauseMs = 100;

    // What the search needs of the port driver. open() opens the port named in the link
    // settings, so the search writes each candidate's name there first.
    struct Line {
        std::function<bool()> open;
        std::function<void()> close;
        std::function<void()> probe;
        std::function<void(bool)> setFrameReceived;
        std::function<bool()> frameReceived;
        std::function<bool(std::uint32_t ms)> waitForFrame;
        std::function<void(std::uint32_t ms)> pause;
        std::function<void(bool)> setReportOpenFailure;
    };

    // What the window shows while the search runs; any of them may be empty.
    struct View {
        std::function<void(int index)> position;
        std::function<void(const QString& name)> trying;
        std::function<void(const QString& name)> opened;
    };

    struct Result {
        bool found = false;
        // stop() was called while it ran.
        bool stopped = false;
        // The index of the answering port, or the number of candidates tried.
        int position = 0;
        QStringList opened;
    };

    PortSearch(LinkSettings& link, Line line, View view = {});

    // Leaves every link setting as it found it except the port name: the port that answered,
    // else the last one that opened, else the name from before. The port is left closed and
    // open failures are reported again.
    Result run(const std::vector<PortCandidate>& candidates);

    // Ends the search at its next wait. The link settings are put back at once, as the end of
    // the search will leave them, so that whoever saves them meanwhile saves sane values.
    void stop();
    [[nodiscard]] bool stopRequested() const { return m_stop; }

private:
    void restoreLink();

    LinkSettings& m_link;
    Line m_line;
    View m_view;
    LinkSettings m_before;
    QString m_remembered;
    bool m_running = false;
    bool m_stop = false;
};
