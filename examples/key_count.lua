-- SPDX-License-Identifier: MIT
-- Counts the key frames of the transmitters for a while and checks that each sent every key.
--   norvale-run key_count.lua --arg seconds=10 --arg keys=4 --arg transmitters=3
local seconds = tonumber(args.seconds or "5")
local keys = tonumber(args.keys or "4")
local transmitters = tonumber(args.transmitters or "1")

local seen, order, frames = {}, {}, 0
local deadline = now() + seconds * 1000
while now() < deadline do
  local f = expect{msgid = 0x13, timeout = deadline - now()}
  if f and f.key then
    frames = frames + 1
    if not seen[f.src] then
      seen[f.src] = {}
      order[#order + 1] = f.src
    end
    seen[f.src][f.key] = (seen[f.src][f.key] or 0) + 1
  end
end
log(("%d key frames from %d transmitters in %g s"):format(frames, #order, seconds))

table.sort(order)
for _, src in ipairs(order) do
  local missing = {}
  for k = 1, keys do
    if not seen[src][k] then missing[#missing + 1] = tostring(k) end
  end
  check(#missing == 0, "transmitter " .. src .. " sent keys 1-" .. keys,
        #missing == 0 and "" or "missing " .. table.concat(missing, ", "))
end
check(#order >= transmitters, "transmitters heard", ("%d of %d"):format(#order, transmitters))
