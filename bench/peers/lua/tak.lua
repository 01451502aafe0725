local function tak(x, y, z) if not (y < x) then return z end return tak(tak(x-1,y,z), tak(y-1,z,x), tak(z-1,x,y)) end
local acc = 0
for k = 1, 140 do acc = acc + tak(18, 12, 6) end
print(acc)
