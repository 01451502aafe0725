-- Message sends: a table-based object whose class holds its methods, sent
-- four million one-line messages.
local Counter = {}
Counter.__index = Counter
function Counter.new(step) return setmetatable({count = 0, step = step}, Counter) end
function Counter:bump() self.count = self.count + self.step end
function Counter:total() return self.count end
local c = Counter.new(2)
for i = 1, 4000000 do c:bump() end
print(c:total())
