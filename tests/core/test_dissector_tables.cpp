// SPDX-License-Identifier: MIT
// The Wireshark dissector's record tables equal the frame decoder's: its TABLES section is run
// in Lua and flattened to "path=value" lines, and the same lines are made from wire_records.h
// and msgIdName(). A layout changed on one side only fails here.
#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <lua.hpp>

#include "core/frame_decoder.h"
#include "core/wire_records.h"

namespace {

// Flattens the global T, sorted, numbers in decimal.
constexpr const char* kFlatten = R"(
local out = {}
local function walk(prefix, v)
  if type(v) == "table" then
    for k, x in pairs(v) do walk(prefix .. "." .. tostring(k), x) end
  else
    out[#out + 1] = prefix .. "=" .. tostring(v)
  end
end
walk("T", T)
table.sort(out)
return table.concat(out, "\n")
)";

QString dissectorTables() {
    QFile f(QStringLiteral(ORLIN_DISSECTOR));
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("cannot read the dissector");
    const QByteArray text = f.readAll();
    const qsizetype begin = text.indexOf("-- BEGIN TABLES");
    const qsizetype end = text.indexOf("-- END TABLES");
    if (begin < 0 || end < begin) return QStringLiteral("no TABLES section");
    // "local T" becomes a global, so that the flattening chunk sees it.
    QByteArray chunk = text.mid(begin, end - begin).replace("local T = {", "T = {");
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    QString result;
    if (luaL_dostring(L, chunk.constData()) != LUA_OK || luaL_dostring(L, kFlatten) != LUA_OK) {
        result = QString::fromUtf8(lua_tostring(L, -1));
    } else {
        result = QString::fromUtf8(lua_tostring(L, -1));
    }
    lua_close(L);
    return result;
}

QString decoderTables() {
    QStringList out;
    const auto put = [&out](const QString& path, auto value) {
        out << QStringLiteral("T.%1=%2").arg(path).arg(value);
    };
    put("start0", hdr::kStart0);
    put("start1", hdr::kStart1);
    put("hdr.length", hdr::kLength);
    put("hdr.msgid", hdr::kMsgId);
    put("hdr.sequence", hdr::kSequence);
    put("hdr.dst", hdr::kDstId);
    put("hdr.src", hdr::kSrcId);
    put("hdr.idsize", hdr::kIdSize);
    put("hdr.size", hdr::kSize);
    put("hdr.receive_limit", hdr::kReceiveLengthLimit);
    const std::pair<const char*, std::uint8_t> ids[] = {
        {"settings_response", msg::kSettingsResponse},
        {"key", msg::kKeyFrame},
        {"peer", msg::kPeerChannel},
        {"channel", msg::kChannel},
        {"power", msg::kPower},
        {"short", msg::kShortSettings},
        {"read2", msg::kReadSecondModel},
        {"nine", msg::kNineByteSettings},
        {"read", msg::kRead},
        {"full", msg::kFullSettings}};
    for (const auto& [name, id] : ids) put(QStringLiteral("msg.") + QLatin1String(name), id);
    for (int id = 0; id < 256; ++id) {
        const QString name = msgIdName(static_cast<std::uint8_t>(id));
        if (!name.isEmpty()) put(QStringLiteral("names.%1").arg(id), name);
    }
    const std::pair<const char*, SettingsRecordLayout> layouts[] = {{"short", record::kShort},
                                                                    {"full", record::kFull}};
    for (const auto& [name, l] : layouts) {
        const QString p = QLatin1String(name) + u'.';
        put(p + "size", l.size);
        put(p + "channel", l.channel);
        put(p + "power", l.power);
        put(p + "fixed_head", l.fixedHead);
        if (l.rateCode) put(p + "rate_code", *l.rateCode);
        put(p + "fixed_tail", l.fixedTail);
        put(p + "sysid", l.sysId);
        put(p + "proid", l.proId);
    }
    for (std::size_t i = 0; i < record::kFixedHead.size(); ++i)
        put(QStringLiteral("fixed_head.%1").arg(i + 1), record::kFixedHead[i]);
    for (std::size_t i = 0; i < record::kFixedTail.size(); ++i)
        put(QStringLiteral("fixed_tail.%1").arg(i + 1), record::kFixedTail[i]);
    put("nine.size", record::kNineByteSize);
    put("nine.fixed_at", record::kNineByteFixedAt);
    for (std::size_t i = 0; i < record::kNineByteFixed.size(); ++i)
        put(QStringLiteral("nine.fixed.%1").arg(i + 1), record::kNineByteFixed[i]);
    put("peer.size", record::kPeerSize);
    put("peer.lead", record::kPeerLead);
    put("peer.channel", record::kPeerChannel);
    put("peer.power", record::kPeerPower);
    put("peer.zeros_at", record::kPeerZerosAt);
    put("peer.zeros", record::kPeerZeros);
    for (const UartRate& r : kUartRates) put(QStringLiteral("uart.%1").arg(r.code), r.bps);
    put("key.maker", keyframe::kMaker);
    put("key.maker_size", keyframe::kMakerSize);
    put("key.key", keyframe::kKey);
    put("key.complement", keyframe::kComplement);
    put("key.payload", keyframe::kPayloadSize);
    put("key.first", keyframe::kFirstKey);
    put("key.last", keyframe::kLastKey);
    put("key.clear", kClearCode);
    put("key.reset", kBackgroundResetCode);
    put("answer.length", answer::kLength);
    put("answer.sysid", answer::kSysId);
    put("answer.proid", answer::kProId);
    for (std::size_t i = 0; i < kModuleModels.size(); ++i) {
        const ModuleModel& m = kModuleModels[i];
        const QString p = QStringLiteral("models.%1.").arg(i + 1);
        put(p + "name", QLatin1String(m.name));
        put(p + "first", m.firstChannel);
        put(p + "channels", m.channelCount);
        put(p + "powers", m.powerCount);
    }
    out.sort();
    return out.join(u'\n');
}

TEST(DissectorTables, EqualTheFrameDecoders) {
    const QString lua = dissectorTables();
    const QString cpp = decoderTables();
    EXPECT_EQ(lua.toStdString(), cpp.toStdString());
}

}  // namespace
