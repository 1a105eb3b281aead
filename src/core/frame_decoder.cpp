// SPDX-License-Identifier: MIT
#include "core/frame_decoder.h"

#include "core/cp932.h"
#include "core/wire_records.h"

#include <algorithm>
#include <array>

namespace {

using Bytes = std::span<const std::uint8_t>;

QString hexDigits(std::int64_t v, int width) {
    return QString::number(v, 16).rightJustified(width, QLatin1Char('0')).toUpper();
}

QString hex(Bytes b) {
    QString s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i > 0) s += QLatin1Char(' ');
        s += hexDigits(b[i], 2);
    }
    return s;
}

// Code page 932 text with every character that would not print shown as '.'.
QString printable(Bytes b) {
    QString text = fromCp932(QByteArrayView(reinterpret_cast<const char*>(b.data()),
                                            static_cast<qsizetype>(b.size())));
    for (QChar& c : text) {
        if (!c.isPrint() || c.unicode() == 0x1A) c = QLatin1Char('.');
    }
    return text;
}

QString hexAndText(Bytes b) { return hex(b) + QStringLiteral("  \"") + printable(b) + u'"'; }

std::int64_t bigEndian(Bytes b) {
    std::int64_t v = 0;
    for (std::uint8_t x : b) v = v * 256 + x;
    return v;
}

// Collects the fields of one unit; every field is cut from the unit itself, so none can reach
// past its end.
class Decoder {
public:
    Decoder(Bytes unit, const DecodeOptions& options) : m_unit(unit), m_options(options) {}

    DecodedUnit run();

private:
    DecodedField& add(FieldId id, int offset, int size, QString meaning,
                      std::optional<std::int64_t> value = std::nullopt) {
        const int at = std::clamp(offset, 0, unitSize());
        const int n = std::clamp(size, 0, unitSize() - at);
        const Bytes b = m_unit.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(n));
        DecodedField f;
        f.id = id;
        f.offset = at;
        f.bytes = QByteArray(reinterpret_cast<const char*>(b.data()), n);
        f.meaning = std::move(meaning);
        f.value = value;
        m_out.fields.append(std::move(f));
        return m_out.fields.last();
    }
    [[nodiscard]] int unitSize() const { return static_cast<int>(m_unit.size()); }
    [[nodiscard]] Bytes slice(int offset, int size) const {
        return m_unit.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
    }
    [[nodiscard]] std::uint8_t byteAt(int offset) const {
        return m_unit[static_cast<std::size_t>(offset)];
    }
    // Payload bytes present from payload offset at, at most size of them.
    [[nodiscard]] int present(int at, int size) const {
        return std::clamp(m_payloadEnd - (m_payload + at), 0, size);
    }

    void header();
    void payload();
    void needsSize(int size);
    void index(FieldId id, int at, int row, const char* what);
    void peerIndex(FieldId id, int at);
    void fixed(FieldId id, int at, Bytes expected);
    void word(FieldId id, int at);
    void settingsRecord(const SettingsRecordLayout& layout);
    void nineByteRecord();
    void peerCommand();
    void keyFrame();
    void settingsResponse();
    void rest(int from, FieldId id, const QString& meaning, const QString& anomaly);
    [[nodiscard]] bool takenByLength() const;
    void appliedIds();

    Bytes m_unit;
    DecodeOptions m_options;
    DecodedUnit m_out;
    int m_start = 0;       // the start mark's offset
    int m_payload = 0;     // the payload's offset
    int m_payloadEnd = 0;  // one past the payload's last byte present
    std::uint8_t m_msgId = 0;
    int m_length = 0;
    int m_msgIdField = -1;  // index of the MsgID field, which carries size complaints
};

DecodedUnit Decoder::run() {
    const int n = unitSize();
    int start = -1;
    for (int i = 0; i + 1 < n; ++i) {
        if (byteAt(i) == hdr::kStart0 && byteAt(i + 1) == hdr::kStart1) {
            start = i;
            break;
        }
    }
    if (start < 0) {
        m_out.summary = n == 0 ? QStringLiteral("empty unit")
                               : QStringLiteral("not a frame: no start mark 0F 5A, %1 bytes").arg(n);
        if (n > 0) add(FieldId::Bytes, 0, n, hexAndText(m_unit));
        return m_out;
    }
    m_out.isFrame = true;
    m_start = start;
    if (start > 0) {
        add(FieldId::Stray, 0, start, hexAndText(slice(0, start))).anomaly =
            QStringLiteral(
                "the unit does not begin with the start mark: %1 byte(s) before it, "
                "which the framing counts into the frame's length")
                .arg(start);
    }
    header();
    if (m_payload <= n) payload();
    if (start > 0) {
        m_out.summary += QStringLiteral("; %1 stray byte(s) before the start mark").arg(start);
        appliedIds();
    }
    return m_out;
}

void Decoder::header() {
    const int n = unitSize();
    const int s = m_start;
    add(FieldId::StartMark, s, 2, QStringLiteral("start of a frame"));
    m_payload = s + hdr::kSize;
    if (s + hdr::kLength >= n) {
        m_out.summary = QStringLiteral("frame cut off inside its header, %1 bytes").arg(n - s);
        m_out.fields.last().anomaly = QStringLiteral("the unit ends inside the header");
        m_payload = n + 1;
        return;
    }
    m_length = byteAt(s + hdr::kLength);
    const int frameBytes = n - s;
    DecodedField& len = add(FieldId::Length, s + hdr::kLength, 1,
                            QStringLiteral("%1 bytes, header included").arg(m_length), m_length);
    QStringList problems;
    if (m_length != frameBytes) {
        problems << QStringLiteral("the unit holds %1 bytes from the start mark").arg(frameBytes);
        if (s > 0 && takenByLength()) {
            problems.last() +=
                QStringLiteral(
                    ": the terminal ended it at %1 bytes, the stray bytes counted, and took it")
                    .arg(m_length);
        }
    }
    if (m_length < hdr::kSize) problems << QStringLiteral("shorter than the 13-byte header");
    if (m_options.direction == Direction::Received && m_length >= hdr::kReceiveLengthLimit) {
        problems << QStringLiteral("the terminal takes no received frame of %1 bytes or more")
                        .arg(hdr::kReceiveLengthLimit);
    }
    len.anomaly = problems.join(QStringLiteral("; "));

    if (s + hdr::kMsgId < n) {
        m_msgId = byteAt(s + hdr::kMsgId);
        const QString name = msgIdName(m_msgId);
        m_msgIdField = static_cast<int>(m_out.fields.size());
        add(FieldId::MsgId, s + hdr::kMsgId, 1,
            name.isEmpty() ? QStringLiteral("no layout known") : name, m_msgId);
    }
    if (s + hdr::kSequence < n) {
        const int seq = byteAt(s + hdr::kSequence);
        add(FieldId::Sequence, s + hdr::kSequence, 1, QString::number(seq), seq);
    }
    const std::array<std::pair<FieldId, int>, 2> ids{
        {{FieldId::DstId, hdr::kDstId}, {FieldId::SrcId, hdr::kSrcId}}};
    for (const auto& [id, at] : ids) {
        if (s + at >= n) break;
        const Bytes b = slice(s + at, std::min(hdr::kIdSize, n - s - at));
        QString meaning = hex(b);
        if (static_cast<int>(b.size()) == hdr::kIdSize &&
            std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0xFF; })) {
            meaning += QStringLiteral(" (everyone)");
        }
        add(id, s + at, hdr::kIdSize, meaning, bigEndian(b));
    }

    QString name = msgIdName(m_msgId);
    if (m_msgId == msg::kSettingsResponse) {
        name = m_length == answer::kLength ? QStringLiteral("settings response") : QString();
    }
    m_out.summary = QStringLiteral("0x%1 %2, %3 bytes")
                        .arg(hexDigits(m_msgId, 2),
                             name.isEmpty() ? QStringLiteral("frame") : name)
                        .arg(frameBytes);
    if (m_payload > n) {
        QString& a = m_out.fields.last().anomaly;
        const QString cut = QStringLiteral("the unit ends inside the header");
        a = a.isEmpty() ? cut : a + QStringLiteral("; ") + cut;
        m_payload = n + 1;
        return;
    }
    // The length byte marks the end when it can; bytes past it are shown apart.
    m_payloadEnd = m_length >= hdr::kSize ? std::min(n, s + m_length) : n;
}

void Decoder::payload() {
    const bool response =
        m_msgId == msg::kSettingsResponse && m_length == answer::kLength;
    switch (m_msgId) {
        case msg::kShortSettings: settingsRecord(record::kShort); break;
        case msg::kFullSettings: settingsRecord(record::kFull); break;
        case msg::kNineByteSettings: nineByteRecord(); break;
        case msg::kChannel:
        case msg::kPower:
            needsSize(1);
            index(m_msgId == msg::kChannel ? FieldId::Channel : FieldId::Power, 0, 1,
                  m_msgId == msg::kChannel ? "channel" : "power");
            rest(1, FieldId::Extra, QStringLiteral("past the one-byte record"),
                 QStringLiteral("the record has one byte"));
            break;
        case msg::kRead:
        case msg::kReadSecondModel:
            rest(0, FieldId::Extra, QStringLiteral("past the empty payload"),
                 QStringLiteral("Read carries no payload"));
            break;
        case msg::kPeerChannel: peerCommand(); break;
        case msg::kKeyFrame: keyFrame(); break;
        default:
            if (response) {
                settingsResponse();
            } else if (m_payloadEnd > m_payload) {
                add(FieldId::Payload, m_payload, m_payloadEnd - m_payload,
                    hexAndText(slice(m_payload, m_payloadEnd - m_payload)));
            }
            break;
    }
    if (m_payloadEnd < unitSize()) {
        add(FieldId::Extra, m_payloadEnd, unitSize() - m_payloadEnd,
            hexAndText(slice(m_payloadEnd, unitSize() - m_payloadEnd)))
            .anomaly = QStringLiteral("past the frame's length byte");
    }
}

void Decoder::needsSize(int size) {
    const int have = m_payloadEnd - m_payload;
    if (have >= size || m_msgIdField < 0) return;
    QString& a = m_out.fields[m_msgIdField].anomaly;
    a = QStringLiteral("the record needs %1 bytes, the payload has %2").arg(size).arg(have);
}

void Decoder::index(FieldId id, int at, int row, const char* what) {
    if (present(at, 1) < 1) return;
    const ModuleModel& model = kModuleModels.at(static_cast<std::size_t>(row));
    const int i = byteAt(m_payload + at);
    const int count = id == FieldId::Channel ? model.channelCount : model.powerCount;
    const int first = id == FieldId::Channel ? model.firstChannel : 0;
    DecodedField& f = add(id, m_payload + at, 1,
                          QStringLiteral("%1 %2 (index %3, %4)")
                              .arg(QLatin1String(what))
                              .arg(first + i)
                              .arg(i)
                              .arg(QLatin1String(model.name)),
                          i);
    if (i == 0xFF) {
        f.meaning = QStringLiteral("no %1 selected (index FF)").arg(QLatin1String(what));
        f.anomaly = QStringLiteral("sent with no list selection");
    } else if (i >= count) {
        f.anomaly = QStringLiteral("index %1 is outside %2's %3 %4 items")
                        .arg(i)
                        .arg(QLatin1String(model.name))
                        .arg(count)
                        .arg(QLatin1String(what));
    }
}

// The peer channel command is the same on every row, so only the caller knows the row.
void Decoder::peerIndex(FieldId id, int at) {
    if (m_options.modelRow && *m_options.modelRow >= 0 &&
        *m_options.modelRow < static_cast<int>(kModuleModels.size())) {
        index(id, at, *m_options.modelRow, id == FieldId::Channel ? "channel" : "power");
        return;
    }
    if (present(at, 1) < 1) return;
    const int i = byteAt(m_payload + at);
    int longest = 0;
    for (const ModuleModel& m : kModuleModels) {
        longest = std::max(longest, id == FieldId::Channel ? m.channelCount : m.powerCount);
    }
    DecodedField& f = add(id, m_payload + at, 1,
                          QStringLiteral("index %1 (model row not known)").arg(i), i);
    if (i >= longest) {
        f.anomaly = QStringLiteral("index %1 is outside every model's list (at most %2 items)")
                        .arg(i)
                        .arg(longest);
    }
}

void Decoder::fixed(FieldId id, int at, Bytes expected) {
    const int n = present(at, static_cast<int>(expected.size()));
    if (n < 1) return;
    DecodedField& f = add(id, m_payload + at, n, QStringLiteral("fixed block"));
    if (!std::equal(expected.begin(), expected.begin() + n, slice(m_payload + at, n).begin())) {
        f.anomaly = QStringLiteral("differs from the fixed block %1").arg(hex(expected));
    }
}

void Decoder::word(FieldId id, int at) {
    const int n = present(at, 2);
    if (n < 1) return;
    const Bytes b = slice(m_payload + at, n);
    DecodedField& f = add(id, m_payload + at, n, QString(), bigEndian(b));
    f.meaning = n == 2 ? QStringLiteral("0x") + hexDigits(bigEndian(b), 4) : QStringLiteral("cut off");
}

void Decoder::settingsRecord(const SettingsRecordLayout& layout) {
    // Only row 0 sends these records.
    needsSize(layout.size);
    index(FieldId::Channel, layout.channel, 0, "channel");
    index(FieldId::Power, layout.power, 0, "power");
    fixed(FieldId::FixedHead, layout.fixedHead, record::kFixedHead);
    if (layout.rateCode && present(*layout.rateCode, 1) == 1) {
        const int code = byteAt(m_payload + *layout.rateCode);
        const std::optional<int> bps = bpsForUartCode(code);
        DecodedField& f = add(FieldId::RateCode, m_payload + *layout.rateCode, 1,
                              bps ? QStringLiteral("%1 bps").arg(*bps)
                                  : QStringLiteral("code %1").arg(code),
                              code);
        if (!bps) f.anomaly = QStringLiteral("no rate has code %1").arg(code);
    }
    fixed(FieldId::FixedTail, layout.fixedTail, record::kFixedTail);
    word(FieldId::SysId, layout.sysId);
    word(FieldId::ProId, layout.proId);
    rest(layout.size, FieldId::Extra, QStringLiteral("past the record"),
         QStringLiteral("the record has %1 bytes").arg(layout.size));
}

void Decoder::nineByteRecord() {
    // Only row 1 sends it.
    needsSize(record::kNineByteSize);
    index(FieldId::Channel, 0, 1, "channel");
    index(FieldId::Power, 1, 1, "power");
    fixed(FieldId::FixedHead, record::kNineByteFixedAt, record::kNineByteFixed);
    rest(record::kNineByteSize, FieldId::Extra, QStringLiteral("past the record"),
         QStringLiteral("the record has %1 bytes").arg(record::kNineByteSize));
}

void Decoder::peerCommand() {
    needsSize(record::kPeerSize);
    fixed(FieldId::PeerLead, 0, std::array{record::kPeerLead});
    peerIndex(FieldId::Channel, record::kPeerChannel);
    peerIndex(FieldId::Power, record::kPeerPower);
    static constexpr std::array<std::uint8_t, record::kPeerZeros> kZeros{};
    fixed(FieldId::Zeros, record::kPeerZerosAt, kZeros);
    rest(record::kPeerSize, FieldId::Extra, QStringLiteral("past the command"),
         QStringLiteral("the command has %1 payload bytes").arg(record::kPeerSize));
}

void Decoder::keyFrame() {
    needsSize(keyframe::kPayloadSize);
    const int makerBytes = present(keyframe::kMaker, keyframe::kMakerSize);
    if (makerBytes > 0) {
        const Bytes b = slice(m_payload + keyframe::kMaker, makerBytes);
        add(FieldId::MakerCode, m_payload + keyframe::kMaker, makerBytes, hex(b), bigEndian(b));
    }
    if (present(keyframe::kKey, 1) < 1) return;
    const int k = byteAt(m_payload + keyframe::kKey);
    DecodedField& key = add(FieldId::KeyNumber, m_payload + keyframe::kKey, 1, QString(), k);
    if (k == kClearCode) {
        key.meaning = QStringLiteral("clear code");
    } else if (k == kBackgroundResetCode) {
        key.meaning = QStringLiteral("background reset");
    } else if (k >= keyframe::kFirstKey && k <= keyframe::kLastKey) {
        key.meaning = QStringLiteral("key %1").arg(k);
    } else {
        key.meaning = QStringLiteral("number %1").arg(k);
        key.anomaly = QStringLiteral("no key has this number (keys are %1 to %2)")
                          .arg(keyframe::kFirstKey)
                          .arg(keyframe::kLastKey);
    }
    if (present(keyframe::kComplement, 1) < 1) return;
    const int c = byteAt(m_payload + keyframe::kComplement);
    DecodedField& comp = add(FieldId::Complement, m_payload + keyframe::kComplement, 1,
                             QStringLiteral("complement of %1").arg(k), c);
    if ((c ^ 0xFF) != k) {
        comp.meaning = QStringLiteral("should be ") + hexDigits(k ^ 0xFF, 2);
        comp.anomaly = QStringLiteral("not the complement of the key number");
    }
    // The readers stop at the complement; longer key frames carry bytes nobody reads.
    rest(keyframe::kPayloadSize, FieldId::NotInterpreted, QStringLiteral("not read"), QString());
}

void Decoder::settingsResponse() {
    const int sys = answer::kSysId - hdr::kSize;
    const int pro = answer::kProId - hdr::kSize;
    needsSize(answer::kLength - hdr::kSize);
    if (const int n = present(0, sys); n > 0) {
        add(FieldId::NotInterpreted, m_payload, n, QStringLiteral("not interpreted"));
    }
    word(FieldId::SysId, sys);
    word(FieldId::ProId, pro);
    rest(pro + 2, FieldId::NotInterpreted, QStringLiteral("not interpreted"), QString());
}

// The framing ends a unit once it holds as many bytes as the length byte says, counting any
// stray bytes in front; such a unit is taken as a frame.
bool Decoder::takenByLength() const {
    return m_options.direction == Direction::Received && m_options.framesFollowed &&
           m_length >= hdr::kSize && unitSize() == m_length;
}

// The terminal reads a settings response's IDs at fixed unit offsets, stray bytes included; the
// fields above count from the start mark, so both are shown.
void Decoder::appliedIds() {
    if (!takenByLength() || m_msgIdField < 0 || m_msgId != msg::kSettingsResponse ||
        m_length != answer::kLength) {
        return;
    }
    const std::array<std::pair<FieldId, int>, 2> ids{
        {{FieldId::SysId, answer::kSysId}, {FieldId::ProId, answer::kProId}}};
    for (const auto& entry : ids) {
        const FieldId id = entry.first;
        const int at = entry.second;
        const std::int64_t took = bigEndian(slice(at, 2));
        auto f = std::find_if(m_out.fields.begin(), m_out.fields.end(),
                              [id](const DecodedField& x) { return x.id == id; });
        if (f == m_out.fields.end()) {
            // The frame counted from its start mark ends before the field: the applied value
            // gets a line of its own, over bytes that other lines explain too.
            add(id, at, 2, QStringLiteral("not inside the frame"));
            f = m_out.fields.end() - 1;
        }
        // The applied value right after the decoded one, where a narrow pane still shows it.
        f->applied = took;
        f->meaning += QStringLiteral("; the terminal applied 0x%1").arg(hexDigits(took, 4));
        const QString note = QStringLiteral("taken from unit bytes %1-%2, the stray bytes counted")
                                 .arg(at)
                                 .arg(at + 1);
        f->anomaly = f->anomaly.isEmpty() ? note : f->anomaly + QStringLiteral("; ") + note;
    }
}

void Decoder::rest(int from, FieldId id, const QString& meaning, const QString& anomaly) {
    const int at = m_payload + from;
    if (at >= m_payloadEnd) return;
    add(id, at, m_payloadEnd - at, meaning).anomaly = anomaly;
}

}  // namespace

QString fieldName(FieldId id) {
    switch (id) {
        case FieldId::Bytes: return QStringLiteral("Bytes");
        case FieldId::Stray: return QStringLiteral("Stray bytes");
        case FieldId::StartMark: return QStringLiteral("Start mark");
        case FieldId::Length: return QStringLiteral("Length");
        case FieldId::MsgId: return QStringLiteral("MsgID");
        case FieldId::Sequence: return QStringLiteral("Sequence");
        case FieldId::DstId: return QStringLiteral("DstID");
        case FieldId::SrcId: return QStringLiteral("SrcID");
        case FieldId::Channel: return QStringLiteral("Channel");
        case FieldId::Power: return QStringLiteral("Power");
        case FieldId::FixedHead: return QStringLiteral("Fixed block");
        case FieldId::RateCode: return QStringLiteral("UART rate code");
        case FieldId::FixedTail: return QStringLiteral("Fixed block");
        case FieldId::SysId: return QStringLiteral("SysID");
        case FieldId::ProId: return QStringLiteral("ProID");
        case FieldId::PeerLead: return QStringLiteral("Lead byte");
        case FieldId::Zeros: return QStringLiteral("Zeros");
        case FieldId::MakerCode: return QStringLiteral("Maker code");
        case FieldId::KeyNumber: return QStringLiteral("Key number");
        case FieldId::Complement: return QStringLiteral("Complement");
        case FieldId::NotInterpreted: return QStringLiteral("Other bytes");
        case FieldId::Payload: return QStringLiteral("Payload");
        case FieldId::Extra: return QStringLiteral("Extra bytes");
    }
    return QString();
}

QString msgIdName(std::uint8_t msgId) {
    switch (msgId) {
        case msg::kSettingsResponse: return QStringLiteral("settings response when 44 bytes long");
        case msg::kKeyFrame: return QStringLiteral("key frame");
        case msg::kPeerChannel: return QStringLiteral("peer channel command");
        case msg::kChannel: return QStringLiteral("channel");
        case msg::kPower: return QStringLiteral("power");
        case msg::kShortSettings: return QStringLiteral("short settings record");
        case msg::kReadSecondModel: return QStringLiteral("Read (second model)");
        case msg::kNineByteSettings: return QStringLiteral("nine-byte settings record");
        case msg::kRead: return QStringLiteral("Read");
        case msg::kFullSettings: return QStringLiteral("full settings record");
        default: return QString();
    }
}

bool DecodedUnit::hasAnomaly() const {
    return std::any_of(fields.begin(), fields.end(),
                       [](const DecodedField& f) { return !f.anomaly.isEmpty(); });
}

const DecodedField* DecodedUnit::field(FieldId id) const {
    for (const DecodedField& f : fields) {
        if (f.id == id) return &f;
    }
    return nullptr;
}

DecodedUnit decodeUnit(std::span<const std::uint8_t> unit, const DecodeOptions& options) {
    return Decoder(unit, options).run();
}

QString renderDecoded(const DecodedUnit& decoded) {
    QString out = decoded.summary + u'\n';
    for (const DecodedField& f : decoded.fields) {
        const Bytes b(reinterpret_cast<const std::uint8_t*>(f.bytes.constData()),
                      static_cast<std::size_t>(f.bytes.size()));
        out += QStringLiteral("%1  %2  %3: %4")
                   .arg(f.offset, 3)
                   .arg(hex(b), -11)
                   .arg(fieldName(f.id), f.meaning);
        if (!f.anomaly.isEmpty()) out += QStringLiteral("  !! ") + f.anomaly;
        out += u'\n';
    }
    return out;
}
