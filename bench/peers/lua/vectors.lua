local v, acc = {}, 0
for k = 1, 250 do
  for i = 1, 10000 do v[i] = 1 end
  for i = 1, 10000 do acc = acc + v[i] end
end
print(acc)
