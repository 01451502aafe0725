local function deep(n) if n == 0 then return 0 end return 1 + deep(n-1) end
local acc = 0
for k = 1, 800 do acc = acc + deep(10000) end
print(acc)
