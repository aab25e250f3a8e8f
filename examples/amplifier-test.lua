-- A production test of the amplifier: its forward and reflected power and its temperature against
-- limits, and its output through the coupler on a power meter. Run it against the simulators:
--
--   build/bin/ampsim --tcp 127.0.0.1:2500 &
--   build/bin/ampsim --meter --tcp 127.0.0.1:2501 --serial PM000001 &
--   build/bin/corvane-batch examples/amplifier-test.lua --connect tcp:127.0.0.1:2500 \
--       --instrument meter=tcp:127.0.0.1:2501 --junit out.xml --tap out.tap
--
-- Limits can be set from the command line: --set fwd_min=45.5 tightens one until the test fails.

local limits = {
  fwd_min = 44.0, fwd_max = 46.0,    -- dBm
  refl_max = 13.0,                   -- dBm
  temp_max = 55.0,                   -- C
  coupler_db = 0.5,                  -- the meter may read this far from the amplifier's own FWD
}
for name, value in pairs(corvane.params) do
  limits[name] = tonumber(value) or error("--set " .. name .. " wants a number, not " .. value)
end

local amp = corvane.open()            -- the instrument of --connect, named "dut" in the log
local meter = corvane.open("meter")   -- --instrument meter=...

corvane.step("identity", function()
  local idn = amp:query("*IDN?")
  if not idn:find(",AmpSim,", 1, true) then corvane.fail("not the amplifier: " .. idn) end
  meter:write("*IDN?")
  local _, vendor = meter:expect("^([A-Za-z]+),PowerSim,")
  corvane.log("power meter by " .. vendor)
end)

corvane.step("output power", function()
  local fwd = amp:number("FWD?", "^FWD ([-+0-9.]+) dBm")
  corvane.check("FWD", fwd, limits.fwd_min, limits.fwd_max, "dBm")
  local refl = amp:number("REFL?", "^REFL ([-+0-9.]+) dBm")
  corvane.check("REFL", refl, nil, limits.refl_max, "dBm")
  corvane.check("return loss", fwd - refl, 30, nil, "dB")
end)

corvane.step("temperature", function()
  local temp = amp:number("TEMP?", "^TEMP ([-+0-9.]+) C")
  corvane.check("TEMP", temp, nil, limits.temp_max, "C")
end)

corvane.step("coupler", function()
  meter:write("*RST")
  meter:write("FREQ 1000000000")
  local fwd = amp:number("FWD?", "^FWD ([-+0-9.]+)")
  local measured = meter:number("MEAS:POW?")
  corvane.check("meter - FWD", measured - fwd, -limits.coupler_db, limits.coupler_db, "dB")
end)
