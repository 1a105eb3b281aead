// SPDX-License-Identifier: MIT
#include "core/port_search.h"

#include <algorithm>
#include <utility>

namespace {

template <typename F>
void callIf(const F& f, const auto&... args) {
    if (f) f(args...);
}

}  // namespace

PortSearch::PortSearch(LinkSettings& link, Line line, View view)
    : m_link(link), m_line(std::move(line)), m_view(std::move(view)) {}

void PortSearch::restoreLink() {
    m_link = m_before;
    m_link.portName = m_remembered;
}

void PortSearch::stop() {
    m_stop = true;
    if (m_running) restoreLink();
}

PortSearch::Result PortSearch::run(const std::vector<PortCandidate>& candidates) {
    Result result;
    m_before = m_link;
    m_remembered = m_link.portName;
    m_running = true;
    m_line.setReportOpenFailure(false);
    m_line.setFrameReceived(false);

    // Whatever ends the search (an answer, the last candidate, a stop, a failure thrown by
    // the probe), the port is closed and the settings are put back.
    struct Finish {
        PortSearch& search;
        ~Finish() {
            search.m_line.close();
            search.restoreLink();
            search.m_running = false;
            search.m_line.setReportOpenFailure(true);
        }
    } finish{*this};

    const int count = std::min<int>(static_cast<int>(candidates.size()), kMaxPorts);
    int i = 0;
    for (; i < count && !m_stop; ++i) {
        // A stable link leads to a port tried already.
        if (candidates[static_cast<std::size_t>(i)].alias) continue;
        const QString& name = candidates[static_cast<std::size_t>(i)].name;
        callIf(m_view.position, i);
        m_link.portName = name;
        callIf(m_view.trying, name);
        if (m_line.open()) {
            result.opened << name;
            callIf(m_view.opened, name);
            m_remembered = name;
            m_line.setFrameReceived(false);
            m_line.probe();
            m_line.waitForFrame(kAnswerWaitMs);
            m_line.close();
            // Checked after the close: a frame that arrived while the port was closing counts.
            if (m_line.frameReceived()) {
                result.found = true;
                break;
            }
        }
        if (m_stop) break;
        m_line.pause(kPauseMs);
    }
    result.position = i;
    result.stopped = m_stop;
    return result;
}
