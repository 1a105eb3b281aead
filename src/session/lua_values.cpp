// SPDX-License-Identifier: MIT
#include "session/lua_values.h"

#include <cmath>

namespace lua_values {

// "file:line: " of the innermost frame of the script itself (not of the API's own Lua), so
// that an error names the script's line.
QByteArray scriptWhere(lua_State* L) {
    lua_Debug ar;
    for (int level = 1; lua_getstack(L, level, &ar); ++level) {
        lua_getinfo(L, "Sl", &ar);
        if (ar.source && ar.source[0] == '@' && ar.currentline > 0)
            return QByteArray(ar.short_src) + ':' + QByteArray::number(ar.currentline) + ": ";
    }
    return {};
}


[[noreturn]] void raise(lua_State* L, const QString& message) {
    throw ScriptRaise{scriptWhere(L) + message.toUtf8()};
}

int raiseHeld(lua_State* L, std::optional<QByteArray>& message) {
    lua_pushlstring(L, message->constData(), static_cast<std::size_t>(message->size()));
    message.reset();
    return lua_error(L);
}



// t[key] without metamethods.
int rawField(lua_State* L, int index, const char* key) {
    index = lua_absindex(L, index);
    lua_pushstring(L, key);
    return lua_rawget(L, index);
}

void pushText(lua_State* L, const QByteArray& bytes) {
    lua_pushlstring(L, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void pushText(lua_State* L, const QString& text) { pushText(L, text.toUtf8()); }


QByteArray valuesAt(lua_State* L, int index, const char* what) {
    std::vector<long long> values;
    const auto n = static_cast<lua_Integer>(lua_rawlen(L, index));
    values.reserve(static_cast<std::size_t>(std::clamp<lua_Integer>(n, 0, 4096)));
    for (lua_Integer i = 1; i <= n; ++i) {
        lua_rawgeti(L, index, i);
        int isInteger = 0;
        const lua_Integer v = lua_tointegerx(L, -1, &isInteger);
        lua_pop(L, 1);
        if (!isInteger)
            raise(
                L,
                QStringLiteral("%1: element %2 is not an integer").arg(QLatin1String(what)).arg(i));
        values.push_back(static_cast<long long>(v));
    }
    return take(L, bytesFromValues(values), what);
}

// Bytes as a script gives them: a string taken byte for byte, a table of byte values, or a
// table {hex = "01 02"}.
QByteArray bytesAt(lua_State* L, int index, const char* what) {
    index = lua_absindex(L, index);
    if (lua_type(L, index) == LUA_TSTRING) {
        std::size_t n = 0;
        const char* s = lua_tolstring(L, index, &n);
        return QByteArray(s, static_cast<qsizetype>(n));
    }
    if (lua_type(L, index) != LUA_TTABLE)
        raise(L, QStringLiteral("%1: give a string, a table of bytes or {hex = \"..\"}")
                     .arg(QLatin1String(what)));
    if (rawField(L, index, "hex") != LUA_TNIL) {
        if (lua_type(L, -1) != LUA_TSTRING)
            raise(L, QStringLiteral("%1: hex is a string").arg(QLatin1String(what)));
        std::size_t n = 0;
        const char* s = lua_tolstring(L, -1, &n);
        QByteArray bytes =
            take(L, bytesFromHex(QByteArrayView(s, static_cast<qsizetype>(n))), what);
        lua_pop(L, 1);
        return bytes;
    }
    lua_pop(L, 1);
    return valuesAt(L, index, what);
}

// A device ID: "FF FF FF FF" or a table of four bytes; nil gives the broadcast ID.
QByteArray idAt(lua_State* L, int index, const char* what) {
    index = lua_absindex(L, index);
    if (lua_isnoneornil(L, index)) return QByteArray(4, char(0xFF));
    QByteArray id;
    if (lua_type(L, index) == LUA_TSTRING) {
        std::size_t n = 0;
        const char* s = lua_tolstring(L, index, &n);
        const auto bytes = take(L, idFromHex(QByteArrayView(s, static_cast<qsizetype>(n))), what);
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), 4);
    }
    if (lua_type(L, index) != LUA_TTABLE)
        raise(L, QStringLiteral("%1: an ID is a string such as \"FF FF FF FF\"")
                     .arg(QLatin1String(what)));
    id = valuesAt(L, index, what);
    if (id.size() != 4)
        raise(L, QStringLiteral("%1: an ID is four bytes, not %2")
                     .arg(QLatin1String(what))
                     .arg(id.size()));
    return id;
}

int integerArg(lua_State* L, int index, const char* what, int lo, int hi) {
    int isInteger = 0;
    const lua_Integer v = lua_tointegerx(L, index, &isInteger);
    if (!isInteger || v < lo || v > hi)
        raise(L, QStringLiteral("%1 must be an integer from %2 to %3")
                     .arg(QLatin1String(what))
                     .arg(lo)
                     .arg(hi));
    return static_cast<int>(v);
}

}  // namespace lua_values
