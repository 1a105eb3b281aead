// SPDX-License-Identifier: MIT
#include "session/lua_api.h"

#include <algorithm>
#include <cmath>
#include <lua.hpp>
#include <vector>

#include "core/frame_decoder.h"
#include "core/frame_format.h"
#include "session/frame_sender.h"
#include "core/link_settings.h"
#include "session/port_driver.h"
#include "core/wire_records.h"
#include "core/module_commands.h"
#include "core/maker_code.h"
#include "core/script_bytes.h"
#include "session/lua_units.h"
#include "session/lua_values.h"

using namespace lua_values;

namespace {

// The API's own Lua: expect's matching runs inside the script's coroutine, so a match function
// may do anything a script may.
constexpr const char* kPrelude = R"lua(
local next_unit, norm_id, send_read, now = ...
local function expect(want)
  if want == nil then want = {} end
  if type(want) ~= "table" then
    error("expect: give a table such as {msgid = 0x06, timeout = 500}", 2)
  end
  local timeout = want.timeout or 1000
  if type(timeout) ~= "number" or timeout < 0 then
    error("expect: timeout is a number of milliseconds, 0 or more", 2)
  end
  local match = want.match
  if match ~= nil and type(match) ~= "function" then error("expect: match is a function", 2) end
  local msgid = want.msgid
  local src = want.src ~= nil and norm_id(want.src, "src") or nil
  local dst = want.dst ~= nil and norm_id(want.dst, "dst") or nil
  local deadline = now() + timeout
  while true do
    local f = next_unit(deadline)
    if f == nil then return nil, "timeout" end
    if (msgid == nil or f.msgid == msgid) and (src == nil or f.src == src)
        and (dst == nil or f.dst == dst) and (match == nil or match(f)) then
      return f
    end
  end
end
expect_ = expect
function module.read(timeout)
  send_read()
  return expect{msgid = 0x00, timeout = timeout or 1000,
                match = function(f) return #f.bytes == 44 end}
end
)lua";

ScriptHost& hostOf(lua_State* L) { return **static_cast<ScriptHost**>(lua_getextraspace(L)); }

QString portStateWord(const PortDriver& port) {
    if (port.isOpen()) return QStringLiteral("OK");
    if (port.isWaiting()) return QStringLiteral("WAIT");
    return QStringLiteral("OFF");
}

}  // namespace

// The functions bound into Lua, friends of the host through this class.
class LuaBindings {
public:
    static ScriptEnvironment& env(lua_State* L) { return hostOf(L).m_env; }

    static void throwIfPortLost(lua_State* L) {
        if (const auto& lost = hostOf(L).m_portLost) raise(L, *lost);
    }

    static void requireOpen(lua_State* L, const char* what) {
        throwIfPortLost(L);
        if (!env(L).port.isOpen())
            raise(L, QStringLiteral("%1: the port is not open (port.open() first)")
                         .arg(QLatin1String(what)));
    }

    // A write the line refused has stopped the port; the script should not go on as if sent.
    static void checkWritten(lua_State* L, const char* what) {
        const PortDriver& port = env(L).port;
        if (port.isOpen() && !port.state().receiveStopRequest) return;
        QString message =
            QStringLiteral("%1: the line did not take the frame").arg(QLatin1String(what));
        if (env(L).portMessage) {
            if (const QString said = env(L).portMessage(); !said.isEmpty()) message += ": " + said;
        }
        raise(L, message);
    }

    static void requireMainFlow(lua_State* L, const char* what) {
        if (L != hostOf(L).m_co)
            raise(L, QStringLiteral("%1 can wait only in the script's main flow, not inside a "
                                    "coroutine of its own")
                         .arg(QLatin1String(what)));
    }

    // The frame of a module or key command, through the command buffer as the panels send it;
    // returns the frame and its sequence number.
    static int sendCommand(lua_State* L, std::uint8_t msgId, const QByteArray& payload,
                           const char* what) {
        requireOpen(L, what);
        FrameSender& sender = env(L).sender;
        const std::uint8_t seq = sender.sequence();
        auto& buffer = sender.commandBuffer();
        const auto n =
            std::min<std::size_t>(buffer.size(), static_cast<std::size_t>(payload.size()));
        std::copy_n(payload.constData(), n, reinterpret_cast<char*>(buffer.data()));
        sender.sendCommand(msgId, static_cast<int>(n));
        checkWritten(L, what);
        pushText(L, frameHeader(msgId, seq, {}, {}, static_cast<int>(n)) +
                        payload.left(static_cast<qsizetype>(n)));
        lua_pushinteger(L, seq);
        return 2;
    }

    // port.open([name], [{baud=, databits=, stopbits=, parity=}])
    static int portOpen(lua_State* L) {
        ScriptHost& host = hostOf(L);
        LinkSettings& link = env(L).link;
        int opts = 0;
        if (lua_type(L, 1) == LUA_TSTRING) {
            link.portName = QString::fromUtf8(lua_tostring(L, 1));
            opts = lua_istable(L, 2) ? 2 : 0;
        } else if (lua_istable(L, 1)) {
            opts = 1;
        } else if (!lua_isnoneornil(L, 1)) {
            raise(L, QStringLiteral("port.open: give a port name, a table of options, or both"));
        }
        if (opts) {
            const auto field = [&](const char* key, int lo, int hi, int& into) {
                if (rawField(L, opts, key) != LUA_TNIL)
                    into = integerArg(L, -1, (QByteArray("port.open: ") + key).constData(), lo, hi);
                lua_pop(L, 1);
            };
            field("baud", 50, 4000000, link.baudRate);
            field("databits", 5, 8, link.dataBits);
            field("stopbits", 1, 2, link.stopBits);
            if (rawField(L, opts, "parity") == LUA_TSTRING) {
                const QString p = QString::fromUtf8(lua_tostring(L, -1)).toUpper();
                if (p != QLatin1String("NONE") && p != QLatin1String("ODD") &&
                    p != QLatin1String("EVEN"))
                    raise(L, QStringLiteral("port.open: parity is \"NONE\", \"ODD\" or \"EVEN\""));
                link.parity = p;
            }
            lua_pop(L, 1);
        }
        host.m_portByScript = true;
        const bool opened = env(L).port.open();
        host.m_portByScript = false;
        host.m_portLost.reset();
        if (opened) {
            lua_pushboolean(L, 1);
            return 1;
        }
        lua_pushnil(L);
        QString why = QStringLiteral("%1 cannot be opened").arg(link.portName);
        if (env(L).portMessage) {
            if (const QString said = env(L).portMessage(); !said.isEmpty()) why += ": " + said;
        }
        pushText(L, why);
        return 2;
    }

    static int portClose(lua_State* L) {
        ScriptHost& host = hostOf(L);
        host.m_portByScript = true;
        env(L).port.close();
        host.m_portByScript = false;
        host.m_portLost.reset();
        return 0;
    }

    static int portName(lua_State* L) {
        pushText(L, env(L).link.portName);
        return 1;
    }

    static int portState(lua_State* L) {
        pushText(L, portStateWord(env(L).port));
        return 1;
    }

    // send{msgid=, dst=, src=, payload= | hex=}: the send panel's frame for these values.
    static int send(lua_State* L) {
        luaL_checktype(L, 1, LUA_TTABLE);
        rawField(L, 1, "msgid");
        const int msgId = integerArg(L, -1, "send: msgid", 0, 255);
        rawField(L, 1, "dst");
        const QByteArray dst = idAt(L, -1, "send: dst");
        rawField(L, 1, "src");
        const QByteArray src = idAt(L, -1, "send: src");
        QByteArray payload;
        if (rawField(L, 1, "payload") != LUA_TNIL) {
            payload = bytesAt(L, -1, "send: payload");
        } else if (rawField(L, 1, "hex") != LUA_TNIL) {
            if (lua_type(L, -1) != LUA_TSTRING) raise(L, QStringLiteral("send: hex is a string"));
            payload = take(L, bytesFromHex(QByteArrayView(lua_tostring(L, -1))), "send: hex");
        }
        lua_settop(L, 1);
        requireOpen(L, "send");
        const PanelTexts texts{QString::number(msgId, 16), QString::fromLatin1(hexText(dst)),
                               QString::fromLatin1(hexText(src)),
                               QString::fromLatin1(hexText(payload)), true};
        FrameSender& sender = env(L).sender;
        const std::uint8_t seq = sender.sequence();
        const auto built = buildPanelFrame(texts, seq);
        if (const auto* refusal = std::get_if<FrameRefusal>(&built))
            raise(L, QStringLiteral("send: ") + refusal->message);
        sender.sendFrame(texts);
        checkWritten(L, "send");
        const Frame& frame = std::get<Frame>(built);
        pushText(L, frame.header + frame.payload);
        lua_pushinteger(L, seq);
        return 2;
    }

    static int write(lua_State* L) {
        const QByteArray bytes = bytesAt(L, 1, "write");
        requireOpen(L, "write");
        if (!bytes.isEmpty()) env(L).sender.sendWhole(bytes);
        checkWritten(L, "write");
        return 0;
    }

    // The oldest unit kept, if it came before the expect's deadline; later ones stay for the
    // next expect, so that a flood of units that do not match cannot hold a timeout off.
    static int continueUnit(lua_State* L, int, lua_KContext) {
        ScriptHost& host = hostOf(L);
        throwIfPortLost(L);
        if (host.m_backlog.empty() || host.m_backlog.front().atMs > host.m_unitDeadline) {
            lua_pushnil(L);
            return 1;
        }
        pushUnit(L, host.m_backlog.front().bytes, host.m_backlog.front().atMs, host.m_modelRow);
        host.m_backlog.pop_front();
        return 1;
    }

    // The next unit of the backlog, waiting for one until the deadline (ms since the start).
    static int nextUnit(lua_State* L) {
        ScriptHost& host = hostOf(L);
        const double deadline = luaL_checknumber(L, 1);
        throwIfPortLost(L);
        if (host.m_dropped) {
            const auto dropped = std::exchange(host.m_dropped, 0);
            Q_EMIT host.logged(QStringLiteral("%1 units were dropped: more came than the script "
                                              "took with expect (at most %2 are kept)")
                                   .arg(dropped)
                                   .arg(host.m_limits.backlogUnits));
        }
        // A busy line keeps the backlog full; take from it directly, but let the event loop
        // run now and then so the window stays alive and the guard is not tripped.
        const bool fresh =
            std::chrono::steady_clock::now() - host.m_resumedAt < std::chrono::milliseconds(20);
        host.m_unitDeadline = deadline;
        const bool late = host.m_backlog.empty() ? host.elapsedMs() >= deadline
                                                 : host.m_backlog.front().atMs > deadline;
        if (late || (!host.m_backlog.empty() && fresh)) return continueUnit(L, LUA_OK, 0);
        requireMainFlow(L, "expect");
        host.setWait(
            host.m_backlog.empty() ? ScriptHost::WaitKind::Unit : ScriptHost::WaitKind::Now,
            deadline);
        return lua_yieldk(L, 0, 0, &protectK<&LuaBindings::continueUnit>);
    }

    static int continueWait(lua_State* L, int, lua_KContext) {
        throwIfPortLost(L);
        return 0;
    }

    static int wait(lua_State* L) {
        const double ms = luaL_checknumber(L, 1);
        if (!(ms >= 0)) raise(L, QStringLiteral("wait: milliseconds, 0 or more"));
        requireMainFlow(L, "wait");
        ScriptHost& host = hostOf(L);
        host.setWait(ScriptHost::WaitKind::Sleep, host.elapsedMs() + ms);
        return lua_yieldk(L, 0, 0, &protectK<&LuaBindings::continueWait>);
    }

    static int now(lua_State* L) {
        lua_pushnumber(L, hostOf(L).elapsedMs());
        return 1;
    }

    static int normId(lua_State* L) {
        pushText(L, hexText(idAt(L, 1, luaL_optstring(L, 2, "id"))));
        return 1;
    }

    static const ModuleModel& model(lua_State* L) {
        return kModuleModels[static_cast<std::size_t>(hostOf(L).m_modelRow)];
    }

    // List indexes of a channel and a power of the current model, as the panel's lists hold them.
    static std::pair<int, int> rfIndexes(lua_State* L, const char* what) {
        const ModuleModel& m = model(L);
        const int ch = integerArg(L, 1, (QByteArray(what) + ": channel").constData(),
                                  m.firstChannel, m.firstChannel + m.channelCount - 1);
        const int pw =
            integerArg(L, 2, (QByteArray(what) + ": power").constData(), 0, m.powerCount - 1);
        return {ch - m.firstChannel, pw};
    }

    static int continueSetRf(lua_State* L, int, lua_KContext power) {
        throwIfPortLost(L);
        sendCommand(L, msg::kPower, QByteArray(1, indexByte(static_cast<int>(power))),
                    "module.set_rf");
        return 0;
    }

    // As My RFch: the short record, or channel then (100 ms later) power.
    static int moduleSetRf(lua_State* L) {
        const auto [ch, pw] = rfIndexes(L, "module.set_rf");
        ScriptHost& host = hostOf(L);
        if (host.m_modelRow == 0) {
            sendCommand(L, msg::kShortSettings, shortSettingsRecord(ch, pw, env(L).module),
                        "module.set_rf");
            return 0;
        }
        if (host.m_modelRow != 1)
            raise(L, QStringLiteral("module.set_rf: the %1 has no such command")
                         .arg(QLatin1String(model(L).name)));
        requireMainFlow(L, "module.set_rf");
        sendCommand(L, msg::kChannel, QByteArray(1, indexByte(ch)), "module.set_rf");
        lua_settop(L, 0);
        host.setWait(ScriptHost::WaitKind::Sleep, host.elapsedMs() + 100);
        return lua_yieldk(L, 0, pw, &protectK<&LuaBindings::continueSetRf>);
    }

    // As Init: the full record with the UART rate code, or the nine-byte record.
    static int moduleInit(lua_State* L) {
        const auto [ch, pw] = rfIndexes(L, "module.init");
        ScriptHost& host = hostOf(L);
        if (host.m_modelRow == 1)
            return sendCommand(L, msg::kNineByteSettings, nineByteSettingsRecord(ch, pw),
                               "module.init");
        if (host.m_modelRow != 0)
            raise(L, QStringLiteral("module.init: the %1 has no such command")
                         .arg(QLatin1String(model(L).name)));
        const int linkBps = env(L).link.baudRate;
        const bool linkListed = std::any_of(kUartRates.begin(), kUartRates.end(),
                                            [&](const UartRate& r) { return r.bps == linkBps; });
        const int bps = lua_isnoneornil(L, 3) ? (linkListed ? linkBps : kUartRates[0].bps)
                                              : integerArg(L, 3, "module.init: bps", 1, 4000000);
        const auto row = std::find_if(kUartRates.begin(), kUartRates.end(),
                                      [&](const UartRate& r) { return r.bps == bps; });
        if (row == kUartRates.end())
            raise(L, QStringLiteral("module.init: %1 bps is not in the module's list").arg(bps));
        const int bpsRow = static_cast<int>(row - kUartRates.begin());
        return sendCommand(L, msg::kFullSettings,
                           fullSettingsRecord(ch, pw, uartRateCode(bpsRow), env(L).module),
                           "module.init");
    }

    static int moduleSendRead(lua_State* L) {
        return sendCommand(L, hostOf(L).m_modelRow == 1 ? msg::kReadSecondModel : msg::kRead, {},
                           "module.read");
    }

    static int moduleModel(lua_State* L) {
        ScriptHost& host = hostOf(L);
        if (!lua_isnoneornil(L, 1))
            host.m_modelRow =
                integerArg(L, 1, "module.model", 0, static_cast<int>(kModuleModels.size()) - 1);
        lua_pushinteger(L, host.m_modelRow);
        lua_pushstring(L, model(L).name);
        return 2;
    }

    // keys.press(n, [maker]): the key frame the key panel sends for key n.
    static int keysPress(lua_State* L) {
        const int key = integerArg(L, 1, "keys.press: key", 0, 255);
        QString field = kDefaultMakerCode;
        if (!lua_isnoneornil(L, 2)) {
            const QByteArray maker = idAt(L, 2, "keys.press: maker");
            field.clear();
            for (int i = 0; i < 4; ++i) {
                if (i) field += u' ';
                field += QStringLiteral("%1h")
                             .arg(static_cast<std::uint8_t>(maker[i]), 2, 16, QLatin1Char('0'))
                             .toUpper();
            }
        }
        const KeySend plan = planKeySend(field, key, false, 0);
        return sendCommand(L, kKeyFrameMsgId, plan.payload.value_or(QByteArray()), "keys.press");
    }

    // Every argument as a string, in place: __tostring may raise, and must before any C++
    // object of the caller exists.
    static void argsToStrings(lua_State* L) {
        for (int i = 1; i <= lua_gettop(L); ++i) {
            if (lua_isnil(L, i)) continue;
            luaL_tolstring(L, i, nullptr);
            lua_replace(L, i);
        }
    }

    static QString stringAt(lua_State* L, int index) {
        std::size_t n = 0;
        const char* s = lua_tolstring(L, index, &n);
        return QString::fromUtf8(s, static_cast<qsizetype>(n));
    }

    static int check(lua_State* L) {
        const bool ok = lua_toboolean(L, 1);
        lua_settop(L, 3);
        lua_pushnil(L);
        lua_replace(L, 1);
        argsToStrings(L);
        ScriptHost& host = hostOf(L);
        ScriptCheck c;
        c.passed = ok;
        c.name = lua_isnil(L, 2) ? QStringLiteral("check %1").arg(host.m_result.checks.size() + 1)
                                 : stringAt(L, 2);
        if (!lua_isnil(L, 3)) c.detail = stringAt(L, 3);
        const double at = host.elapsedMs();
        c.seconds = (at - host.m_lastCheckMs) / 1000.0;
        host.m_lastCheckMs = at;
        host.m_result.checks.push_back(c);
        Q_EMIT host.checked(c);
        lua_pushboolean(L, ok);
        return 1;
    }

    static int fail(lua_State* L) {
        lua_settop(L, 1);
        argsToStrings(L);
        ScriptHost& host = hostOf(L);
        if (!host.m_kill) {
            host.m_kill =
                ScriptHost::Kill{ScriptOutcome::Failed,
                                 QString::fromUtf8(scriptWhere(L)) +
                                     (lua_isnil(L, 1) ? QStringLiteral("failed") : stringAt(L, 1))};
        }
        // Ends the script even inside a pcall; where it cannot yield, an error unwinds.
        if (L == host.m_co && lua_isyieldable(L)) return lua_yield(L, 0);
        raise(L, host.m_kill->message);
    }

    static int log(lua_State* L) {
        argsToStrings(L);
        QStringList parts;
        for (int i = 1; i <= lua_gettop(L); ++i)
            parts << (lua_isnil(L, i) ? QStringLiteral("nil") : stringAt(L, i));
        Q_EMIT hostOf(L).logged(parts.join(u'\t'));
        return 0;
    }

    static int captureStart(lua_State* L) {
        const QString path = QString::fromUtf8(luaL_checkstring(L, 1));
        const auto error = env(L).startCapture
                               ? env(L).startCapture(path)
                               : std::optional<QString>(QStringLiteral("no capture here"));
        if (!error) {
            lua_pushboolean(L, 1);
            return 1;
        }
        lua_pushnil(L);
        pushText(L, *error);
        return 2;
    }

    static int captureStop(lua_State* L) {
        if (env(L).stopCapture) env(L).stopCapture();
        return 0;
    }

    // load without binary chunks, whatever mode the script asks for.
    static int textLoad(lua_State* L) {
        if (lua_gettop(L) < 3) lua_settop(L, 3);
        lua_pushliteral(L, "t");
        lua_replace(L, 3);
        lua_pushvalue(L, lua_upvalueindex(1));
        lua_insert(L, 1);
        lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
        return lua_gettop(L);
    }

    static void setFunctions(lua_State* L, const luaL_Reg* functions) {
        luaL_setfuncs(L, functions, 0);
    }

    static int installAll(lua_State* L) {
        const auto* args = static_cast<const ScriptHost::Args*>(lua_touserdata(L, 1));
        const luaL_Reg libraries[] = {
            {LUA_GNAME, luaopen_base},       {LUA_STRLIBNAME, luaopen_string},
            {LUA_TABLIBNAME, luaopen_table}, {LUA_MATHLIBNAME, luaopen_math},
            {LUA_UTF8LIBNAME, luaopen_utf8}, {LUA_COLIBNAME, luaopen_coroutine},
            {LUA_OSLIBNAME, luaopen_os}};
        for (const luaL_Reg& lib : libraries) {
            luaL_requiref(L, lib.name, lib.func, 1);
            lua_pop(L, 1);
        }
        // No files, no precompiled chunks, of os only the clock.
        for (const char* name : {"dofile", "loadfile"}) {
            lua_pushnil(L);
            lua_setglobal(L, name);
        }
        lua_getglobal(L, "string");
        lua_pushnil(L);
        lua_setfield(L, -2, "dump");
        lua_pop(L, 1);
        lua_getglobal(L, "load");
        lua_pushcclosure(L, &LuaBindings::textLoad, 1);
        lua_setglobal(L, "load");
        lua_getglobal(L, "os");
        lua_createtable(L, 0, 3);
        for (const char* name : {"clock", "time", "date"}) {
            lua_getfield(L, -2, name);
            lua_setfield(L, -2, name);
        }
        lua_setglobal(L, "os");
        lua_pop(L, 1);
        lua_pushnil(L);
        lua_setfield(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);

        const luaL_Reg globals[] = {{"send", protect<&LuaBindings::send>},
                                    {"write", protect<&LuaBindings::write>},
                                    {"wait", protect<&LuaBindings::wait>},
                                    {"now", protect<&LuaBindings::now>},
                                    {"check", protect<&LuaBindings::check>},
                                    {"fail", protect<&LuaBindings::fail>},
                                    {"log", protect<&LuaBindings::log>},
                                    {"print", protect<&LuaBindings::log>},
                                    {nullptr, nullptr}};
        lua_pushglobaltable(L);
        setFunctions(L, globals);
        lua_pop(L, 1);
        const auto library = [L](const char* name, const luaL_Reg* functions) {
            lua_newtable(L);
            setFunctions(L, functions);
            lua_setglobal(L, name);
        };
        const luaL_Reg port[] = {{"open", protect<&LuaBindings::portOpen>},
                                 {"close", protect<&LuaBindings::portClose>},
                                 {"name", protect<&LuaBindings::portName>},
                                 {"state", protect<&LuaBindings::portState>},
                                 {nullptr, nullptr}};
        library("port", port);
        const luaL_Reg module[] = {{"set_rf", protect<&LuaBindings::moduleSetRf>},
                                   {"init", protect<&LuaBindings::moduleInit>},
                                   {"model", protect<&LuaBindings::moduleModel>},
                                   {nullptr, nullptr}};
        library("module", module);
        const luaL_Reg keys[] = {{"press", protect<&LuaBindings::keysPress>}, {nullptr, nullptr}};
        library("keys", keys);
        const luaL_Reg capture[] = {{"start", protect<&LuaBindings::captureStart>},
                                    {"stop", protect<&LuaBindings::captureStop>},
                                    {nullptr, nullptr}};
        library("capture", capture);

        lua_createtable(L, 0, static_cast<int>(args->size()));
        for (const auto& [key, value] : *args) {
            pushText(L, value);
            lua_setfield(L, -2, key.toUtf8().constData());
        }
        lua_setglobal(L, "args");

        if (luaL_loadbufferx(L, kPrelude, std::char_traits<char>::length(kPrelude), "=api", "t") !=
            LUA_OK)
            return lua_error(L);
        lua_pushcfunction(L, &protect<&LuaBindings::nextUnit>);
        lua_pushcfunction(L, &protect<&LuaBindings::normId>);
        lua_pushcfunction(L, &protect<&LuaBindings::moduleSendRead>);
        lua_pushcfunction(L, &protect<&LuaBindings::now>);
        lua_call(L, 4, 0);
        // The prelude leaves expect in a scratch global; it is the script's under its own name.
        lua_getglobal(L, "expect_");
        lua_setglobal(L, "expect");
        lua_pushnil(L);
        lua_setglobal(L, "expect_");
        return 0;
    }
};

std::optional<QString> LuaApi::install(lua_State* L, const ScriptHost::Args& args) {
    lua_pushcfunction(L, &LuaBindings::installAll);
    lua_pushlightuserdata(L, const_cast<ScriptHost::Args*>(&args));
    if (lua_pcall(L, 1, 0, 0) == LUA_OK) return std::nullopt;
    const QString error = QString::fromUtf8(lua_tostring(L, -1));
    lua_pop(L, 1);
    return error;
}
