// SPDX-License-Identifier: MIT
#pragma once
// How the script API's bindings take values from Lua and hand errors back to it.

#include <QByteArray>
#include <QString>
#include <lua.hpp>
#include <optional>
#include <utility>
#include <variant>

#include "core/script_bytes.h"

namespace lua_values {

// "file:line: " of the innermost frame of the script itself (not of the API's own Lua), so
// that an error names the script's line.
QByteArray scriptWhere(lua_State* L);

// Lua's errors and yields are long jumps, which would skip the destructors of the bindings'
// C++ objects. The bindings throw this instead; protect() turns it into a Lua error once they
// are gone. They also call only raw table accessors, so no metamethod can jump out of them.
struct ScriptRaise {
    QByteArray message;
};

// Throws the message, prefixed with the script's file:line.
[[noreturn]] void raise(lua_State* L, const QString& message);
// Raises a held message as a Lua error; the caller's C++ objects must be gone by then.
int raiseHeld(lua_State* L, std::optional<QByteArray>& message);

template <lua_CFunction F>
int protect(lua_State* L) {
    std::optional<QByteArray> message;
    try {
        return F(L);
    } catch (ScriptRaise& e) {
        message = std::move(e.message);
    }
    return raiseHeld(L, message);
}

template <lua_KFunction F>
int protectK(lua_State* L, int status, lua_KContext ctx) {
    std::optional<QByteArray> message;
    try {
        return F(L, status, ctx);
    } catch (ScriptRaise& e) {
        message = std::move(e.message);
    }
    return raiseHeld(L, message);
}

template <typename T>
T take(lua_State* L, std::variant<T, ByteRefusal> value, const char* what) {
    if (auto* refusal = std::get_if<ByteRefusal>(&value))
        raise(L, QStringLiteral("%1: %2").arg(QLatin1String(what), refusal->reason));
    return std::get<T>(std::move(value));
}

// t[key] without metamethods.
int rawField(lua_State* L, int index, const char* key);
void pushText(lua_State* L, const QByteArray& bytes);
void pushText(lua_State* L, const QString& text);
// A table of byte values.
QByteArray valuesAt(lua_State* L, int index, const char* what);
// Bytes as a script gives them: a string taken byte for byte, a table of byte values, or a
// table {hex = "01 02"}.
QByteArray bytesAt(lua_State* L, int index, const char* what);
// A device ID: "FF FF FF FF" or a table of four bytes; nil gives the broadcast ID.
QByteArray idAt(lua_State* L, int index, const char* what);
// An integer argument within lo..hi.
int integerArg(lua_State* L, int index, const char* what, int lo, int hi);

}  // namespace lua_values
