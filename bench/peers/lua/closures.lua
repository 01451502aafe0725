local function run(k, step)
  local f = function(x) return x + step end
  local acc = 0
  for i = 1, k do acc = f(acc) end
  return acc
end
print(run(6000000, 1))
