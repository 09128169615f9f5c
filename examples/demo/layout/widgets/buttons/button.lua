-- A button widget with a label and a press counter.
local Button = {}
Button.__index = Button

function Button.new(label)
  return setmetatable({ label = label, presses = 0 }, Button)
end

function Button:press()
  self.presses = self.presses + 1
  return self.presses
end

local ok = Button.new("OK")
ok:press()
print("button " .. ok.label .. " pressed " .. ok:press() .. " times")
return Button
