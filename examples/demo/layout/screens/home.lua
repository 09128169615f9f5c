-- The home screen: a grid of tiles.
local tiles = {}
for row = 1, 3 do
  for column = 1, 4 do
    tiles[#tiles + 1] = { row = row, column = column }
  end
end
print("home screen with " .. #tiles .. " tiles")
