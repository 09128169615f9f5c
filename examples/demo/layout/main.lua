-- Entry point of the demo package's layout.
local title = "uippack demo"
local screens = { "home", "settings", "about" }

--#if DEBUG
print("debug build of " .. title)
--#else
print("release build of " .. title)
--#endif

for index, name in ipairs(screens) do
  print(string.format("screen %d: %s", index, name))
end
