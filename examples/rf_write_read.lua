-- SPDX-License-Identifier: MIT
-- Writes the RF channel and power into the module (as "My RFch" does) and reads them back.
--   norvale-run rf_write_read.lua --arg channel=5 --arg power=3 --junit rf.xml
-- The module answers Read with its settings record at the front of the payload: channel, then
-- power, as the kit's module and orlin-sim do.
local channel = tonumber(args.channel or "5")
local power = tonumber(args.power or "3")

module.set_rf(channel, power)
local r, err = module.read(tonumber(args.timeout or "1000"))
check(r ~= nil, "the module answers Read", err)
if r then
  check(r.payload:byte(1) == channel, "channel read back",
        ("wrote %d, read %d"):format(channel, r.payload:byte(1)))
  check(r.payload:byte(2) == power, "power read back",
        ("wrote %d, read %d"):format(power, r.payload:byte(2)))
  log(("SysID %04X, ProID %04X"):format(r.sysid, r.proid))
end
