// SPDX-License-Identifier: MIT
#include "session/script_host.h"

#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <lua.hpp>

#include "session/lua_api.h"
#include "session/port_driver.h"

namespace {

// The guard looks at the clock every this many instructions: often enough to stop within a
// few milliseconds of the limit, rarely enough to cost nothing measurable.
constexpr int kHookInstructions = 1000;

QString errorText(lua_State* L, int index) {
    if (lua_type(L, index) == LUA_TSTRING || lua_type(L, index) == LUA_TNUMBER)
        return QString::fromUtf8(lua_tostring(L, index));
    return QStringLiteral("(error object is a %1 value)")
        .arg(QString::fromUtf8(luaL_typename(L, index)));
}

// Where a coroutine that failed stood: its innermost line of Lua, or nothing. Memory errors
// carry no position of their own.
QString failedAt(lua_State* co) {
    lua_Debug ar;
    for (int level = 0; lua_getstack(co, level, &ar) != 0; ++level) {
        if (lua_getinfo(co, "Sl", &ar) != 0 && ar.currentline > 0)
            return QStringLiteral("%1:%2: ")
                .arg(QString::fromUtf8(ar.short_src))
                .arg(ar.currentline);
    }
    return {};
}

}  // namespace

ScriptHost::ScriptHost(ScriptEnvironment env, Limits limits, QObject* parent)
    : QObject(parent), m_env(std::move(env)), m_limits(limits) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ScriptHost::resume);
    connect(&m_env.port, &PortDriver::statusChanged, this, &ScriptHost::portStatusChanged);
}

ScriptHost::~ScriptHost() {
    if (m_L) lua_close(m_L);
}

void ScriptHost::start(const QString& path, const Args& args) {
    if (running()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_name = QFileInfo(path).fileName();
        m_result = {};
        finish(ScriptOutcome::Error,
               QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
        return;
    }
    startSource(file.readAll(), path, args);
}

void ScriptHost::startSource(const QByteArray& source, const QString& name, const Args& args) {
    if (running()) return;
    m_name = name;
    m_result = {};
    m_kill.reset();
    m_stopRequested = false;
    m_overLimit = false;
    m_used = 0;
    m_backlog.clear();
    m_dropped = 0;
    m_portLost.reset();
    m_wait = {};
    m_lastCheckMs = 0;
    m_clock.start();
    begin(source, name, args);
}

double ScriptHost::elapsedMs() const { return static_cast<double>(m_clock.nsecsElapsed()) / 1e6; }

void ScriptHost::begin(const QByteArray& source, const QString& chunkName, const Args& args) {
    m_L = lua_newstate(&ScriptHost::allocate, this);
    if (!m_L) {
        finish(ScriptOutcome::Error, QStringLiteral("the script interpreter could not start"));
        return;
    }
    *static_cast<ScriptHost**>(lua_getextraspace(m_L)) = this;
    if (const std::optional<QString> error = LuaApi::install(m_L, args)) {
        finish(ScriptOutcome::Error, *error);
        return;
    }
    // Text only: a precompiled chunk can crash the interpreter.
    const QByteArray name = "@" + chunkName.toUtf8();
    if (luaL_loadbufferx(m_L, source.constData(), static_cast<std::size_t>(source.size()),
                         name.constData(), "t") != LUA_OK) {
        const QString message = errorText(m_L, -1);
        finish(ScriptOutcome::Error, message);
        return;
    }
    m_co = lua_newthread(m_L);
    // Kept alive by the registry, not by the main stack, which the API uses freely.
    lua_setfield(m_L, LUA_REGISTRYINDEX, "norvale.script");
    lua_xmove(m_L, m_co, 1);
    lua_sethook(m_co, &ScriptHost::countHook, LUA_MASKCOUNT, kHookInstructions);
    queueResume();
}

void* ScriptHost::allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    auto* host = static_cast<ScriptHost*>(ud);
    // Without a block, osize tells what kind of object is wanted, not a size.
    if (!ptr) osize = 0;
    if (nsize == 0) {
        std::free(ptr);
        host->m_used -= osize;
        return nullptr;
    }
    if (nsize > osize && host->m_used - osize + nsize > host->m_limits.memoryBytes) {
        host->m_overLimit = true;
        return nullptr;
    }
    void* block = std::realloc(ptr, nsize);
    if (!block) return nullptr;
    host->m_used = host->m_used - osize + nsize;
    return block;
}

void ScriptHost::countHook(lua_State* L, lua_Debug* ar) {
    ScriptHost& host = **static_cast<ScriptHost**>(lua_getextraspace(L));
    if (!host.m_kill) {
        if (host.m_stopRequested) {
            host.m_kill = Kill{ScriptOutcome::Stopped, QStringLiteral("stopped")};
        } else if (host.m_overLimit) {
            lua_getinfo(L, "Sl", ar);
            host.m_kill =
                Kill{ScriptOutcome::Error,
                     QStringLiteral("%1:%2: the script's memory limit of %3 MB was reached")
                         .arg(QString::fromUtf8(ar->short_src))
                         .arg(ar->currentline)
                         .arg(host.m_limits.memoryBytes >> 20)};
        } else if (std::chrono::steady_clock::now() - host.m_resumedAt > host.m_limits.runaway) {
            lua_getinfo(L, "Sl", ar);
            host.m_kill =
                Kill{ScriptOutcome::Error,
                     QStringLiteral("%1:%2: ran for %3 s without waiting (a loop without wait or "
                                    "expect?); stopped")
                         .arg(QString::fromUtf8(ar->short_src))
                         .arg(ar->currentline)
                         .arg(static_cast<double>(host.m_limits.runaway.count()) / 1000.0)};
        }
    }
    if (!host.m_kill) return;
    // Yielding leaves the script where it is, whatever pcall it is inside; the host then
    // drops it. Where a yield is impossible an error unwinds to the next point that can.
    if (L == host.m_co && lua_isyieldable(L)) {
        lua_yield(L, 0);
        return;
    }
    {
        const QByteArray message = host.m_kill->message.toUtf8();
        lua_pushlstring(L, message.constData(), static_cast<std::size_t>(message.size()));
    }
    lua_error(L);
}

void ScriptHost::queueResume() {
    if (m_resumeQueued) return;
    m_resumeQueued = true;
    QMetaObject::invokeMethod(this, &ScriptHost::resume, Qt::QueuedConnection);
}

void ScriptHost::resume() {
    m_resumeQueued = false;
    // A wait inside the API (a network port's open) runs the event loop under the script;
    // the script goes on once that returns.
    if (!m_co || m_inResume) return;
    if (m_kill) {
        finish(m_kill->outcome, m_kill->message);
        return;
    }
    m_timer.stop();
    m_wait = {};
    m_inResume = true;
    m_resumedAt = std::chrono::steady_clock::now();
    int results = 0;
    const int status = lua_resume(m_co, m_L, 0, &results);
    m_inResume = false;
    if (m_kill) {
        finish(m_kill->outcome, m_kill->message);
        return;
    }
    if (status == LUA_YIELD) {
        lua_pop(m_co, results);
        if (m_wait.kind == WaitKind::None) {
            finish(ScriptOutcome::Error,
                   QStringLiteral("coroutine.yield was called outside a coroutine"));
            return;
        }
        armWait();
        return;
    }
    if (status == LUA_OK) {
        finish(m_result.failedCount() > 0 ? ScriptOutcome::Failed : ScriptOutcome::Passed, {});
        return;
    }
    QString message = errorText(m_co, -1);
    if (status == LUA_ERRMEM || m_overLimit)
        message = QStringLiteral("%1the script's memory limit of %2 MB was reached (%3)")
                      .arg(failedAt(m_co))
                      .arg(m_limits.memoryBytes >> 20)
                      .arg(message);
    finish(ScriptOutcome::Error, message);
}

void ScriptHost::armWait() {
    const auto startTimer = [this] {
        if (!m_wait.untilMs) return;
        const double left = *m_wait.untilMs - elapsedMs();
        m_timer.start(left <= 0 ? 0 : static_cast<int>(left) + 1);
    };
    switch (m_wait.kind) {
        case WaitKind::Unit:
            if (!m_backlog.empty() || m_portLost) {
                queueResume();
            } else {
                startTimer();
            }
            break;
        case WaitKind::Sleep:
            if (m_portLost) {
                queueResume();
            } else {
                startTimer();
            }
            break;
        case WaitKind::Now:
        case WaitKind::None:
            queueResume();
            break;
    }
}

void ScriptHost::unitReceived(std::span<const std::uint8_t> unit) {
    if (!m_co) return;
    if (m_backlog.size() >= m_limits.backlogUnits) {
        m_backlog.pop_front();
        ++m_dropped;
    }
    m_backlog.push_back({QByteArray(reinterpret_cast<const char*>(unit.data()),
                                    static_cast<qsizetype>(unit.size())),
                         elapsedMs()});
    if (m_wait.kind == WaitKind::Unit && !m_inResume) queueResume();
}

void ScriptHost::portStatusChanged(const QString& text) {
    if (!m_co || m_portByScript || !text.endsWith(QLatin1String(":OFF"))) return;
    QString message =
        QStringLiteral("the port %1 closed under the script").arg(m_env.link.portName);
    QString said = m_env.portMessage ? m_env.portMessage() : QString();
    if (said.isEmpty()) said = QStringLiteral("the line hung up or its device went away");
    m_portLost = message + QStringLiteral(": ") + said;
    if (m_wait.kind != WaitKind::None && !m_inResume) queueResume();
}

void ScriptHost::stop(ScriptOutcome why, const QString& message) {
    if (!m_co) return;
    const QString text = message.isEmpty() ? outcomeWord(why) : message;
    if (m_inResume) {
        // Inside the script (an API call running the event loop): the hook ends it.
        if (!m_kill) m_kill = Kill{why, text};
        m_stopRequested = true;
        return;
    }
    finish(why, text);
}

void ScriptHost::finish(ScriptOutcome outcome, const QString& message) {
    m_timer.stop();
    m_wait = {};
    m_co = nullptr;
    if (m_L) {
        lua_close(m_L);
        m_L = nullptr;
    }
    m_backlog.clear();
    m_result.outcome = outcome;
    m_result.message = message;
    m_result.seconds = m_clock.isValid() ? elapsedMs() / 1000.0 : 0;
    Q_EMIT finished(m_result);
}
