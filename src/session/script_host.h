// SPDX-License-Identifier: MIT
#pragma once
// Runs one Lua script as a coroutine on the UI thread. Every wait of the script (expect, wait,
// a module read) yields back to the event loop, so the window, the monitor, the capture and
// Reconnect go on as without a script; the script is resumed when its unit arrives or its time
// is up. Without a running script nothing here touches the receive path.
//
// The script sees a sandbox (no files, no modules, no debug library), a memory limit enforced
// by the allocator, and a guard that ends it once it has run for too long without waiting.
// The API is bound in session/lua_api.cpp.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/script_result.h"

struct lua_State;
struct lua_Debug;
class Capture;
class FrameSender;
class PortDriver;
struct LinkSettings;
struct ModuleSettings;

// What a script may use, owned by the window or the runner.
struct ScriptEnvironment {
    PortDriver& port;
    FrameSender& sender;
    LinkSettings& link;
    const ModuleSettings& module;
    // The capture as its owner runs it (the window shows it in the status bar). Start returns
    // why it could not.
    std::function<std::optional<QString>(const QString& path)> startCapture;
    std::function<void()> stopCapture;
    // The last message the port gave the user (a line error), for a script that loses its port.
    std::function<QString()> portMessage;
};

struct ScriptLimits {
    std::size_t memoryBytes = std::size_t{256} << 20;
    std::chrono::milliseconds runaway{2000};
    // Units kept for the next expect; past this the oldest go (and the script is told).
    std::size_t backlogUnits = 10000;
};

class ScriptHost final : public QObject {
    Q_OBJECT
public:
    using Limits = ScriptLimits;
    using Args = std::vector<std::pair<QString, QString>>;

    explicit ScriptHost(ScriptEnvironment env, Limits limits = {}, QObject* parent = nullptr);
    ~ScriptHost() override;
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // Starts the script in the file; a file that cannot be read or compiled ends the run at
    // once (finished is emitted before this returns). Ignored while a script runs.
    void start(const QString& path, const Args& args = {});
    void startSource(const QByteArray& source, const QString& name, const Args& args = {});
    [[nodiscard]] bool running() const { return m_co != nullptr; }
    [[nodiscard]] QString scriptName() const { return m_name; }
    [[nodiscard]] const ScriptResult& result() const { return m_result; }

    // Ends the run now when the script waits, else at its next instruction.
    void stop(ScriptOutcome why = ScriptOutcome::Stopped, const QString& message = {});
    // Safe from any thread: the stop takes effect at the script's next instruction; a script
    // that waits also needs stop() from the event loop.
    void requestStop() noexcept { m_stopRequested = true; }

    // Every unit the receive path finishes; kept for expect while a script runs.
    void unitReceived(std::span<const std::uint8_t> unit);
    // The module model row whose commands module.* sends (the module panel's).
    void setModelRow(int row) { m_modelRow = row; }

    // Milliseconds since the script started, as unit times and now() give them.
    [[nodiscard]] double elapsedMs() const;

Q_SIGNALS:
    void logged(const QString& text);
    void checked(const ScriptCheck& check);
    void finished(const ScriptResult& result);

private:
    friend class LuaApi;
    friend class LuaBindings;

    struct Unit {
        QByteArray bytes;
        double atMs = 0;
    };
    enum class WaitKind { None, Unit, Sleep, Now };
    struct Wait {
        WaitKind kind = WaitKind::None;
        std::optional<double> untilMs;
    };
    // A decision to end the run made where it cannot end at once (in the hook, in fail()).
    struct Kill {
        ScriptOutcome outcome;
        QString message;
    };

    static void* allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize);
    static void countHook(lua_State* L, lua_Debug* ar);
    void begin(const QByteArray& source, const QString& chunkName, const Args& args);
    void resume();
    void queueResume();
    void armWait();
    void finish(ScriptOutcome outcome, const QString& message);
    void portStatusChanged(const QString& text);
    // For the API: the wait to arm once the script has yielded.
    void setWait(WaitKind kind, std::optional<double> untilMs = std::nullopt) {
        m_wait = {kind, untilMs};
    }

    ScriptEnvironment m_env;
    Limits m_limits;
    QString m_name;
    ScriptResult m_result;
    int m_modelRow = 0;

    lua_State* m_L = nullptr;
    lua_State* m_co = nullptr;
    std::size_t m_used = 0;
    bool m_overLimit = false;
    std::atomic<bool> m_stopRequested = false;
    std::optional<Kill> m_kill;
    bool m_inResume = false;
    bool m_resumeQueued = false;
    std::chrono::steady_clock::time_point m_resumedAt;
    QElapsedTimer m_clock;
    double m_lastCheckMs = 0;

    Wait m_wait;
    QTimer m_timer;
    std::deque<Unit> m_backlog;
    double m_unitDeadline = 0;  // of the expect waiting, in ms since the start
    std::uint64_t m_dropped = 0;
    // Set while the API opens or closes the port itself, so that only other closes count as
    // the port being lost.
    bool m_portByScript = false;
    std::optional<QString> m_portLost;
};
