// SPDX-License-Identifier: MIT
#pragma once
// The desktop of a screen reader user, for one run of a benchmark: a session bus of its own, the
// accessibility bus launched on it and switched on (the toolkit turns its accessibility on when
// the bus says so), and a listener that registers for the events a screen reader takes, so that
// the toolkit sends them.

#include <poll.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

class AccessibilityBus {
public:
    AccessibilityBus() = default;
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;
    ~AccessibilityBus() {
        stopListener();
        stopSession(m_launcher);
        stopSession(m_daemon);
    }

    static constexpr const char* kLauncher = "/usr/libexec/at-spi-bus-launcher";
    static constexpr const char* kPython = "/usr/bin/python3";

    // False, with the reason in *error, when any part is missing or does not come up.
    bool start(const std::string& listenerScript, std::string* error) {
        if (::access(kLauncher, X_OK) != 0 || ::access(kPython, X_OK) != 0) {
            *error = "at-spi2-core and python3-pyatspi are not installed";
            return false;
        }
        if (!(m_daemon = spawnReading({"dbus-daemon", "--session", "--nofork", "--print-address"},
                                      {}, &m_address)) ||
            m_address.empty()) {
            *error = "dbus-daemon did not start";
            return false;
        }
        m_env =
            environmentWith({"DBUS_SESSION_BUS_ADDRESS=" + m_address, "GSETTINGS_BACKEND=memory"});
        m_launcher = spawnChild({kLauncher, "--launch-immediately"}, {}, m_env);
        const std::vector<std::string> getAddress = {"dbus-send",     "--session",
                                                     "--print-reply", "--dest=org.a11y.Bus",
                                                     "/org/a11y/bus", "org.a11y.Bus.GetAddress"};
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            up = waitChild(spawnChild(getAddress, {}, m_env), 2000) == 0;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const std::vector<std::string> enable = {"dbus-send",
                                                 "--session",
                                                 "--print-reply",
                                                 "--dest=org.a11y.Bus",
                                                 "/org/a11y/bus",
                                                 "org.freedesktop.DBus.Properties.Set",
                                                 "string:org.a11y.Status",
                                                 "string:IsEnabled",
                                                 "variant:boolean:true"};
        if (!up || waitChild(spawnChild(enable, {}, m_env), 2000) != 0) {
            *error = "the accessibility bus did not come up";
            return false;
        }
        std::string ready;
        if (!(m_listener =
                  spawnReading({kPython, listenerScript}, m_env, &ready, &m_listenerOut)) ||
            ready != "ready") {
            *error = "the event listener did not start: " + ready;
            return false;
        }
        return true;
    }

    // What a process started now needs to find the bus.
    [[nodiscard]] const std::vector<std::string>& environment() const { return m_env; }
    // The sessions of the bus processes, whose CPU counts with a run.
    [[nodiscard]] std::vector<pid_t> sessions() const { return {m_daemon, m_launcher, m_listener}; }

    // Stops the listener; how many events it had taken, -1 if unknown.
    long stopListener() {
        if (m_listener <= 0) return -1;
        ::kill(m_listener, SIGTERM);
        waitChild(m_listener, 3000);
        stopSession(m_listener);
        m_listener = 0;
        std::string line;
        char c = 0;
        while (m_listenerOut >= 0 && ::read(m_listenerOut, &c, 1) == 1 && c != '\n') line += c;
        if (m_listenerOut >= 0) ::close(m_listenerOut);
        m_listenerOut = -1;
        return line.empty() ? -1 : std::stol(line);
    }

private:
    // Starts a program with its standard output on a pipe and reads its first line into *line;
    // keeps the pipe in *keep when asked, else closes it. 0 when it did not start.
    static pid_t spawnReading(const std::vector<std::string>& argv, std::vector<std::string> env,
                              std::string* line, int* keep = nullptr) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return 0;
        ChildStreams streams;
        streams.stdoutFd = fds[1];
        const pid_t pid = env.empty() ? spawnChild(argv, streams) : spawnChild(argv, streams, env);
        ::close(fds[1]);
        // A part that hangs before its first line ends the bench's wait after ten seconds.
        char c = 0;
        pollfd p{fds[0], POLLIN, 0};
        while (pid > 0 && ::poll(&p, 1, 10'000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            *line += c;
        if (keep) {
            *keep = fds[0];
        } else {
            ::close(fds[0]);
        }
        return pid > 0 ? pid : 0;
    }

    pid_t m_daemon = 0;
    pid_t m_launcher = 0;
    pid_t m_listener = 0;
    int m_listenerOut = -1;
    std::string m_address;
    std::vector<std::string> m_env;
};
