-- Ardour's headless Lua interpreter with the LV2 plug-in on a track, no
-- display and no sound card: a session on the dummy backend whose capture
-- ports give white noise, one audio track hearing its input through
-- zelo.lv2 (installed in ~/.lv2, or along LV2_PATH), and the track's peak
-- level as the cutoff port moves and the filter is switched off.
--   ardour7-lua scripts/trial/ardour-lv2.lua
-- The session goes to a fresh folder under /tmp.
local dir = os.tmpname()
os.remove(dir)
AudioEngine:set_backend("None (Dummy)", "", "")
AudioEngine:set_device_name("Uniform White Noise")
local s = create_session(dir, "zelo-lv2", 48000)
assert(s, "no session")
print("rate", Session:nominal_sample_rate())
local tl = Session:new_audio_track(1, 2, nil, 1, "lp", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local t = tl:front()
local p = ARDOUR.LuaAPI.new_plugin(Session, "https://zelo.audio/plugins/lowpass", ARDOUR.PluginType.LV2, "")
assert(not p:isnil(), "no plugin")
assert(t:add_processor_by_index(p, 0, nil, true))
print("plugin", p:display_name(), "default frequency", (ARDOUR.LuaAPI.get_processor_param(p, 1, true)), "state", (ARDOUR.LuaAPI.get_processor_param(p, 0, true)))
-- the track's input from the backend's first capture port, heard through the track
t:input():audio(0):connect("system:capture_1")
t:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)
local function level()
  local peak = 0
  for k = 1, 20 do
    ARDOUR.LuaAPI.usleep(50000)
    local l = t:peak_meter():meter_level(0, ARDOUR.MeterType.MeterPeak)
    if l > peak or peak == 0 then peak = l end
  end
  return peak
end
for _, f in ipairs({20000, 5015, 800, 20}) do
  ARDOUR.LuaAPI.set_processor_param(p, 1, f)
  ARDOUR.LuaAPI.usleep(300000)
  print(string.format("frequency %5d Hz: peak %.1f dBFS", f, level()))
end
ARDOUR.LuaAPI.set_processor_param(p, 0, 0)
ARDOUR.LuaAPI.usleep(300000)
print(string.format("state off (dry):   peak %.1f dBFS", level()))
close_session()
