-- SPDX-License-Identifier: MIT
-- Sends frames one after another, expects the answer to each and reports loss and latency.
--   norvale-run soak.lua --arg frames=100000 --arg max_loss=0 --junit soak.xml
-- The module answers each frame with MsgID 06 whose payload names the MsgID and sequence
-- number answered; --arg answer=NN names another answer MsgID (hex).
local frames = tonumber(args.frames or "200")
local timeout = tonumber(args.timeout or "500")
local max_loss = tonumber(args.max_loss or "0")
local answer = tonumber(args.answer or "06", 16)

local latencies, lost = {}, 0
local started = now()
for _ = 1, frames do
  local _, seq = send{msgid = 0x10, hex = "01 02 03 04"}
  local sent_at = now()
  local a = expect{msgid = answer, timeout = timeout,
                   match = function(f) return f.payload:byte(2) == seq end}
  if a then
    latencies[#latencies + 1] = a.time - sent_at
  else
    lost = lost + 1
  end
end
local elapsed = (now() - started) / 1000

table.sort(latencies)
local function percentile(p)
  if #latencies == 0 then return 0 end
  return latencies[math.max(1, math.ceil(p / 100 * #latencies))]
end
log(("%d frames in %.1f s, %d lost; answer after p50 %.2f ms, p99 %.2f ms, max %.2f ms")
    :format(frames, elapsed, lost, percentile(50), percentile(99), percentile(100)))
check(lost <= max_loss, "answers lost", ("%d of %d (at most %d allowed)"):format(lost, frames, max_loss))
