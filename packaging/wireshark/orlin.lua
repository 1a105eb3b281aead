-- SPDX-License-Identifier: MIT
-- Wireshark dissector for the Orlin kit's frames, as Norvale Term captures them in pcapng
-- (link type 147, USER0): one packet per unit received or frame sent. It flags what the
-- terminal's frame inspector flags, as expert info, so a filter finds the odd frames:
--   orlin.msgid == 0x13 && orlin.key.complement_ok == 0
-- Install: copy this file to ~/.local/lib/wireshark/plugins/ (or run tshark -X lua_script:orlin.lua).

-- BEGIN TABLES: the terminal's record tables; a test keeps them equal to the frame decoder's.
local T = {
  start0 = 0x0F, start1 = 0x5A,
  hdr = { length = 2, msgid = 3, sequence = 4, dst = 5, src = 9, idsize = 4, size = 13,
          receive_limit = 73 },
  msg = { settings_response = 0x00, key = 0x13, peer = 0x17, channel = 0x20, power = 0x21,
          short = 0x2A, read2 = 0x73, nine = 0x74, read = 0x7D, full = 0x7E },
  names = {
    [0x00] = "settings response when 44 bytes long",
    [0x13] = "key frame",
    [0x17] = "peer channel command",
    [0x20] = "channel",
    [0x21] = "power",
    [0x2A] = "short settings record",
    [0x73] = "Read (second model)",
    [0x74] = "nine-byte settings record",
    [0x7D] = "Read",
    [0x7E] = "full settings record",
  },
  short = { size = 22, channel = 0, power = 1, fixed_head = 2, fixed_tail = 11, sysid = 18,
            proid = 20 },
  full = { size = 23, channel = 0, power = 1, fixed_head = 2, rate_code = 11, fixed_tail = 12,
           sysid = 19, proid = 21 },
  fixed_head = { 0x01, 0x08, 0x08, 0x01, 0x04, 0x0A, 0x05, 0x03, 0x05 },
  fixed_tail = { 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x51 },
  nine = { size = 9, fixed_at = 2, fixed = { 0x1E, 0x01, 0x00, 0x04, 0x00, 0x0A, 0x1E } },
  peer = { size = 8, lead = 0x03, channel = 1, power = 2, zeros_at = 3, zeros = 5 },
  uart = { [0] = 38400, [1] = 19200, [2] = 9600, [3] = 4800, [4] = 2400, [11] = 115200,
           [12] = 57600 },
  key = { maker = 0, maker_size = 4, key = 4, complement = 5, payload = 6, first = 1, last = 70,
          clear = 204, reset = 255 },
  answer = { length = 44, sysid = 32, proid = 34 },
  models = {
    { name = "Orlin-A1", first = 0, channels = 16, powers = 16 },
    { name = "Pavek-B1", first = 0, channels = 16, powers = 16 },
    { name = "Sendra-C1(950MHz)", first = 1, channels = 33, powers = 3 },
    { name = "Sendra-D1(920MHz)", first = 24, channels = 15, powers = 4 },
  },
}
-- END TABLES

local orlin = Proto("orlin", "Orlin kit frame")

local msgid_names = {}
for k, v in pairs(T.names) do msgid_names[k] = v end

local f = {
  stray = ProtoField.bytes("orlin.stray", "Stray bytes"),
  bytes = ProtoField.bytes("orlin.bytes", "Bytes (not a frame)"),
  start = ProtoField.uint16("orlin.start", "Start mark", base.HEX),
  length = ProtoField.uint8("orlin.length", "Length", base.DEC),
  msgid = ProtoField.uint8("orlin.msgid", "MsgID", base.HEX, msgid_names),
  sequence = ProtoField.uint8("orlin.sequence", "Sequence", base.DEC),
  dst = ProtoField.uint32("orlin.dst", "DstID", base.HEX),
  src = ProtoField.uint32("orlin.src", "SrcID", base.HEX),
  channel = ProtoField.uint8("orlin.channel", "Channel index", base.DEC),
  power = ProtoField.uint8("orlin.power", "Power index", base.DEC),
  fixed = ProtoField.bytes("orlin.fixed", "Fixed block"),
  rate_code = ProtoField.uint8("orlin.rate_code", "UART rate code", base.DEC),
  sysid = ProtoField.uint16("orlin.sysid", "SysID", base.HEX),
  proid = ProtoField.uint16("orlin.proid", "ProID", base.HEX),
  lead = ProtoField.uint8("orlin.peer.lead", "Lead byte", base.HEX),
  zeros = ProtoField.bytes("orlin.peer.zeros", "Zeros"),
  maker = ProtoField.uint32("orlin.key.maker", "Maker code", base.HEX),
  key = ProtoField.uint8("orlin.key.number", "Key number", base.DEC),
  complement = ProtoField.uint8("orlin.key.complement", "Complement", base.HEX),
  complement_ok = ProtoField.bool("orlin.key.complement_ok", "Complement correct"),
  other = ProtoField.bytes("orlin.other", "Other bytes"),
  payload = ProtoField.bytes("orlin.payload", "Payload"),
  extra = ProtoField.bytes("orlin.extra", "Extra bytes"),
  anomaly = ProtoField.string("orlin.anomaly", "Anomaly"),
}
local list = {}
for _, v in pairs(f) do list[#list + 1] = v end
orlin.fields = list

local e_anomaly = ProtoExpert.new("orlin.anomaly.expert", "Frame anomaly",
                                  expert.group.PROTOCOL, expert.severity.WARN)
orlin.experts = { e_anomaly }

local direction = Field.new("frame.packet_flags_direction")

-- Adds an anomaly to item: as a filterable field and as expert info.
local function flag(tree, item, text)
  item:add_proto_expert_info(e_anomaly, text)
  tree:add(f.anomaly, text):set_generated()
end

local function fixed_block(tree, tvb, at, have, expected)
  local n = math.min(have, #expected)
  if n < 1 then return end
  local item = tree:add(f.fixed, tvb(at, n))
  for i = 1, n do
    if tvb(at + i - 1, 1):uint() ~= expected[i] then
      flag(tree, item, "differs from the fixed block")
      return
    end
  end
end

local function index(tree, tvb, at, limit, field, row, what)
  if at >= limit then return end
  local model = T.models[row]
  local i = tvb(at, 1):uint()
  local count = what == "channel" and model.channels or model.powers
  local item = tree:add(field, tvb(at, 1))
  if i == 0xFF then
    flag(tree, item, "sent with no list selection")
  elseif i >= count then
    flag(tree, item, ("index %d is outside %s's %d %s items"):format(i, model.name, count, what))
  end
end

local function peer_index(tree, tvb, at, limit, field)
  if at >= limit then return end
  local i = tvb(at, 1):uint()
  local longest = 0
  for _, m in ipairs(T.models) do
    local c = field == f.channel and m.channels or m.powers
    if c > longest then longest = c end
  end
  local item = tree:add(field, tvb(at, 1))
  if i >= longest then flag(tree, item, "index outside every model's list") end
end

local function word(tree, tvb, at, limit, field)
  local n = math.min(2, limit - at)
  if n < 1 then return end
  tree:add(field, tvb(at, n))
end

local function rest(tree, tvb, at, limit, field, anomaly)
  if at >= limit then return end
  local item = tree:add(field, tvb(at, limit - at))
  if anomaly then flag(tree, item, anomaly) end
end

local function needs(tree, msgid_item, have, size)
  if have < size then
    flag(tree, msgid_item, ("the record needs %d bytes, the payload has %d"):format(size, have))
  end
end

local function settings_record(tree, tvb, p, limit, layout, msgid_item)
  needs(tree, msgid_item, limit - p, layout.size)
  index(tree, tvb, p + layout.channel, limit, f.channel, 1, "channel")
  index(tree, tvb, p + layout.power, limit, f.power, 1, "power")
  fixed_block(tree, tvb, p + layout.fixed_head, limit - p - layout.fixed_head, T.fixed_head)
  if layout.rate_code and p + layout.rate_code < limit then
    local code = tvb(p + layout.rate_code, 1):uint()
    local item = tree:add(f.rate_code, tvb(p + layout.rate_code, 1))
    if T.uart[code] then
      item:append_text((" (%d bps)"):format(T.uart[code]))
    else
      flag(tree, item, ("no rate has code %d"):format(code))
    end
  end
  fixed_block(tree, tvb, p + layout.fixed_tail, limit - p - layout.fixed_tail, T.fixed_tail)
  word(tree, tvb, p + layout.sysid, limit, f.sysid)
  word(tree, tvb, p + layout.proid, limit, f.proid)
  rest(tree, tvb, p + layout.size, limit, f.extra, ("the record has %d bytes"):format(layout.size))
end

local function key_frame(tree, tvb, p, limit, msgid_item)
  local K = T.key
  needs(tree, msgid_item, limit - p, K.payload)
  local mb = math.min(K.maker_size, limit - p - K.maker)
  if mb > 0 then tree:add(f.maker, tvb(p + K.maker, mb)) end
  if p + K.key >= limit then return end
  local k = tvb(p + K.key, 1):uint()
  local item = tree:add(f.key, tvb(p + K.key, 1))
  if k == K.clear then
    item:append_text(" (clear code)")
  elseif k == K.reset then
    item:append_text(" (background reset)")
  elseif k < K.first or k > K.last then
    flag(tree, item, ("no key has this number (keys are %d to %d)"):format(K.first, K.last))
  end
  if p + K.complement >= limit then return end
  local c = tvb(p + K.complement, 1):uint()
  local citem = tree:add(f.complement, tvb(p + K.complement, 1))
  local ok = bit.bxor(c, 0xFF) == k
  tree:add(f.complement_ok, tvb(p + K.complement, 1), ok):set_generated()
  if not ok then flag(tree, citem, "not the complement of the key number") end
  rest(tree, tvb, p + K.payload, limit, f.other, nil)
end

function orlin.dissector(tvb, pinfo, root)
  local n = tvb:len()
  if n == 0 then return 0 end
  pinfo.cols.protocol = "ORLIN"
  local dir = direction()
  local received = not (dir and dir.value == 2)
  local tree = root:add(orlin, tvb())
  local s = -1
  for i = 0, n - 2 do
    if tvb(i, 1):uint() == T.start0 and tvb(i + 1, 1):uint() == T.start1 then s = i; break end
  end
  if s < 0 then
    tree:add(f.bytes, tvb())
    pinfo.cols.info = ("not a frame, %d bytes"):format(n)
    return n
  end
  if s > 0 then
    flag(tree, tree:add(f.stray, tvb(0, s)), "the unit does not begin with the start mark")
  end
  local H = T.hdr
  local start_item = tree:add(f.start, tvb(s, 2))
  if s + H.length >= n then
    flag(tree, start_item, "the unit ends inside the header")
    pinfo.cols.info = "frame cut off inside its header"
    return n
  end
  local length = tvb(s + H.length, 1):uint()
  local len_item = tree:add(f.length, tvb(s + H.length, 1))
  if length ~= n - s then
    flag(tree, len_item, ("the unit holds %d bytes from the start mark"):format(n - s))
  end
  if length < H.size then flag(tree, len_item, "shorter than the 13-byte header") end
  if received and length >= H.receive_limit then
    flag(tree, len_item, ("the terminal takes no received frame of %d bytes or more")
         :format(H.receive_limit))
  end
  local msgid, msgid_item = 0, nil
  if s + H.msgid < n then
    msgid = tvb(s + H.msgid, 1):uint()
    msgid_item = tree:add(f.msgid, tvb(s + H.msgid, 1))
  end
  if s + H.sequence < n then tree:add(f.sequence, tvb(s + H.sequence, 1)) end
  for _, id in ipairs({ { f.dst, H.dst }, { f.src, H.src } }) do
    if s + id[2] >= n then break end
    tree:add(id[1], tvb(s + id[2], math.min(H.idsize, n - s - id[2])))
  end
  local name = T.names[msgid]
  if msgid == T.msg.settings_response then
    name = length == T.answer.length and "settings response" or nil
  end
  pinfo.cols.info = ("0x%02X %s, %d bytes"):format(msgid, name or "frame", n - s)
  local p = s + H.size
  if p > n then
    flag(tree, msgid_item or len_item, "the unit ends inside the header")
    return n
  end
  local limit = length >= H.size and math.min(n, s + length) or n
  local M = T.msg
  if msgid == M.short then
    settings_record(tree, tvb, p, limit, T.short, msgid_item)
  elseif msgid == M.full then
    settings_record(tree, tvb, p, limit, T.full, msgid_item)
  elseif msgid == M.nine then
    needs(tree, msgid_item, limit - p, T.nine.size)
    index(tree, tvb, p, limit, f.channel, 2, "channel")
    index(tree, tvb, p + 1, limit, f.power, 2, "power")
    fixed_block(tree, tvb, p + T.nine.fixed_at, limit - p - T.nine.fixed_at, T.nine.fixed)
    rest(tree, tvb, p + T.nine.size, limit, f.extra, ("the record has %d bytes"):format(T.nine.size))
  elseif msgid == M.channel or msgid == M.power then
    needs(tree, msgid_item, limit - p, 1)
    index(tree, tvb, p, limit, msgid == M.channel and f.channel or f.power, 1,
          msgid == M.channel and "channel" or "power")
    rest(tree, tvb, p + 1, limit, f.extra, "the record has one byte")
  elseif msgid == M.read or msgid == M.read2 then
    rest(tree, tvb, p, limit, f.extra, "Read carries no payload")
  elseif msgid == M.peer then
    local P = T.peer
    needs(tree, msgid_item, limit - p, P.size)
    if p < limit then
      local item = tree:add(f.lead, tvb(p, 1))
      if tvb(p, 1):uint() ~= P.lead then flag(tree, item, "differs from the fixed block") end
    end
    peer_index(tree, tvb, p + P.channel, limit, f.channel)
    peer_index(tree, tvb, p + P.power, limit, f.power)
    local zn = math.min(P.zeros, limit - p - P.zeros_at)
    if zn > 0 then
      local zeros = {}
      for i = 1, P.zeros do zeros[i] = 0 end
      fixed_block(tree, tvb, p + P.zeros_at, zn, zeros)
    end
    rest(tree, tvb, p + P.size, limit, f.extra, ("the command has %d payload bytes"):format(P.size))
  elseif msgid == M.key then
    key_frame(tree, tvb, p, limit, msgid_item)
  elseif msgid == M.settings_response and length == T.answer.length then
    local sys, pro = T.answer.sysid - H.size, T.answer.proid - H.size
    needs(tree, msgid_item, limit - p, T.answer.length - H.size)
    rest(tree, tvb, p, math.min(limit, p + sys), f.other, nil)
    word(tree, tvb, p + sys, limit, f.sysid)
    word(tree, tvb, p + pro, limit, f.proid)
    rest(tree, tvb, p + pro + 2, limit, f.other, nil)
  elseif limit > p then
    tree:add(f.payload, tvb(p, limit - p))
  end
  if limit < n then
    flag(tree, tree:add(f.extra, tvb(limit, n - limit)), "past the frame's length byte")
  end
  return n
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, orlin)
