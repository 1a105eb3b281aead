// SPDX-License-Identifier: MIT
#pragma once
// Explains one unit, received or sent, field by field: where each field sits, its bytes and what
// they mean. The layouts are read from com/wire_records.h, the tables the builders write by, so
// the explanation cannot drift from what the terminal sends.
//
// Anything odd is flagged on the field it concerns rather than smoothed over: a length byte that
// disagrees with the unit, a length the terminal's framing refuses, a wrong key complement, a
// channel or power index outside the model's lists, a fixed block that differs, a record of the
// wrong size. Pure and total: any bytes in, every field inside the unit, nothing thrown.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

enum class Direction { Received, Sent };

enum class FieldId {
    Bytes,           // a unit that is not a frame, whole
    Stray,           // bytes before the start mark (the framing keeps them at the unit's front)
    StartMark,
    Length,
    MsgId,
    Sequence,
    DstId,
    SrcId,
    Channel,         // a channel list index
    Power,           // a power list index
    FixedHead,       // a settings record's fixed block (the nine-byte record's whole block)
    RateCode,
    FixedTail,
    SysId,
    ProId,
    PeerLead,
    Zeros,
    MakerCode,
    KeyNumber,
    Complement,
    NotInterpreted,  // bytes of a known message that nothing reads
    Payload,         // the payload of a message without a layout
    Extra,           // bytes past a record's layout or past the length byte
};

[[nodiscard]] QString fieldName(FieldId id);

struct DecodedField {
    FieldId id = FieldId::Bytes;
    int offset = 0;  // from the unit's first byte
    QByteArray bytes;
    QString meaning;
    // The number the field carries where it has one: an index, a code, an ID high byte first.
    std::optional<std::int64_t> value;
    QString anomaly;  // empty when nothing is wrong
    // What the terminal took for this field where it read other bytes than these: a settings
    // response behind stray bytes is applied from the unit's bytes 32 to 35, not the frame's.
    std::optional<std::int64_t> applied;

    [[nodiscard]] int size() const { return static_cast<int>(bytes.size()); }
};

struct DecodeOptions {
    Direction direction = Direction::Received;
    // The terminal's model row, for the one command whose MsgID does not tell the row (the peer
    // channel command); without it that command's indexes are checked against every row's list.
    std::optional<int> modelRow;
    // The receiver followed frames (no receive delimiter), so a unit its length byte ended was
    // taken as a frame and a settings response in it applied.
    bool framesFollowed = true;
};

struct DecodedUnit {
    bool isFrame = false;
    QString summary;  // "0x2A short settings record, 35 bytes" or why it is not a frame
    QList<DecodedField> fields;

    [[nodiscard]] bool hasAnomaly() const;
    // The first field with that id, or nullptr.
    [[nodiscard]] const DecodedField* field(FieldId id) const;
};

// "short settings record", "key frame", ...; "" for a MsgID without a name.
[[nodiscard]] QString msgIdName(std::uint8_t msgId);

[[nodiscard]] DecodedUnit decodeUnit(std::span<const std::uint8_t> unit,
                                     const DecodeOptions& options = {});

// The summary, then one line per field: offset, bytes in hex, name, meaning and, when the field
// is odd, "  !! " and what is wrong. Ready for a read-only text pane.
[[nodiscard]] QString renderDecoded(const DecodedUnit& decoded);
