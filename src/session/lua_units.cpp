// SPDX-License-Identifier: MIT
#include "session/lua_units.h"

#include <lua.hpp>
#include <span>

#include "core/frame_decoder.h"
#include "core/script_bytes.h"
#include "session/lua_values.h"

namespace lua_values {

namespace {

void setField(lua_State* L, const char* key, const QByteArray& bytes) {
    pushText(L, bytes);
    lua_setfield(L, -2, key);
}

}  // namespace

void pushUnit(lua_State* L, const QByteArray& unit, double atMs, int modelRow) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(unit.constData());
    const std::span<const std::uint8_t> bytes(data, static_cast<std::size_t>(unit.size()));
    DecodeOptions options;
    options.modelRow = modelRow;
    const DecodedUnit decoded = decodeUnit(bytes, options);
    lua_createtable(L, 0, 16);
    setField(L, "bytes", unit);
    setField(L, "hex", hexText(unit));
    lua_pushnumber(L, atMs);
    lua_setfield(L, -2, "time");
    lua_pushboolean(L, decoded.isFrame);
    lua_setfield(L, -2, "frame");
    setField(L, "summary", decoded.summary.toUtf8());
    const auto number = [&](const char* key, const DecodedField& f) {
        if (!f.value) return;
        lua_pushinteger(L, static_cast<lua_Integer>(*f.value));
        lua_setfield(L, -2, key);
    };
    int payloadAt = -1;
    for (const DecodedField& f : decoded.fields) {
        switch (f.id) {
            case FieldId::MsgId:
                number("msgid", f);
                break;
            case FieldId::Sequence:
                number("seq", f);
                break;
            case FieldId::DstId:
                setField(L, "dst", hexText(f.bytes));
                break;
            case FieldId::SrcId:
                setField(L, "src", hexText(f.bytes));
                payloadAt = f.offset + f.size();
                break;
            case FieldId::Channel:
                number("channel", f);
                break;
            case FieldId::Power:
                number("power", f);
                break;
            case FieldId::RateCode:
                number("rate", f);
                break;
            case FieldId::SysId:
                number("sysid", f);
                break;
            case FieldId::ProId:
                number("proid", f);
                break;
            case FieldId::KeyNumber:
                number("key", f);
                break;
            case FieldId::MakerCode:
                setField(L, "maker", hexText(f.bytes));
                break;
            default:
                break;
        }
        if (!f.anomaly.isEmpty()) {
            lua_getfield(L, -1, "anomaly");
            const bool first = lua_isnil(L, -1);
            lua_pop(L, 1);
            if (first) setField(L, "anomaly", f.anomaly.toUtf8());
        }
    }
    if (payloadAt >= 0) setField(L, "payload", unit.mid(payloadAt));
}

}  // namespace lua_values
