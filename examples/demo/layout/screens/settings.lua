-- The settings screen: a list of switches.
local switches = { sound = true, vibration = false, dark_mode = true }
local names = {}
for name in pairs(switches) do names[#names + 1] = name end
table.sort(names)
for _, name in ipairs(names) do
  print(name .. " = " .. tostring(switches[name]))
end
