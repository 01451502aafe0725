-- Objects: a particle world of three classes sharing a base class, as
-- tables whose metatables chain to their class and base class.
local Body = {}
Body.__index = Body
function Body.new(class) return setmetatable({x = 0, y = 0, vx = 1, vy = 1}, class) end
function Body:place(x, y, vx, vy) self.x, self.y, self.vx, self.vy = x, y, vx, vy return self end
function Body:move() self.x = self.x + self.vx self.y = self.y + self.vy end
function Body:bounce()
  if self.x < 0 then self.vx = math.abs(self.vx) end
  if self.x > 100 then self.vx = -math.abs(self.vx) end
  if self.y < 0 then self.vy = math.abs(self.vy) end
  if self.y > 100 then self.vy = -math.abs(self.vy) end
end
function Body:step() self:move() self:bounce() end
function Body:energy() return math.abs(self.vx) + math.abs(self.vy) end
local Heavy = setmetatable({mass = 3}, {__index = Body})
Heavy.__index = Heavy
function Heavy:energy() return self.mass * (math.abs(self.vx) + math.abs(self.vy)) end
local Spinner = setmetatable({angle = 0}, {__index = Body})
Spinner.__index = Spinner
function Spinner:step() self.angle = (self.angle + 7) % 360 self:move() self:bounce() end
function Spinner:energy() return 1 + self.angle // 60 end
local World = {}
World.__index = World
function World:populate(n)
  for i = n, 1, -1 do
    local class = (i % 3 == 0) and Heavy or ((i % 3 == 1) and Spinner or Body)
    local b = Body.new(class):place((i * 7) % 100, (i * 13) % 100, (i % 5) - 2, (i % 3) - 1)
    table.insert(self.bodies, b)
  end
  return self
end
function World:tick()
  for _, b in ipairs(self.bodies) do b:step() end
  self.ticks = self.ticks + 1
end
function World:total()
  local e = 0
  for _, b in ipairs(self.bodies) do e = e + b:energy() end
  return e
end
local w = setmetatable({bodies = {}, ticks = 0}, World):populate(40)
local acc = 0
for k = 1, 25000 do w:tick() acc = (acc + w:total()) % 1000000 end
print(acc)
