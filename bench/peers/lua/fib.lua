local function fib(n) if n < 2 then return n end return fib(n-1) + fib(n-2) end
local acc = 0
for k = 1, 40 do acc = acc + fib(25) end
print(acc)
