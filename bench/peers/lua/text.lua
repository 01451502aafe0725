-- Text: build lines of words, split them at spaces into substrings, count
-- the words in an association list and write a report string.
local words = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "and", "runs", "far", "away"}
local function make_line(n)
  local s = words[n % 12 + 1]
  for i = 1, 59 do s = s .. " " .. words[(i * 7 + i // 3 + n) % 12 + 1] end
  return s
end
local function split(s)
  local acc, start = {}, 1
  for i = 1, #s do
    if string.byte(s, i) == 32 then acc[#acc + 1] = string.sub(s, start, i - 1) start = i + 1 end
  end
  acc[#acc + 1] = string.sub(s, start)
  return acc
end
-- The association list: a chain of {word, count, next}, newest first.
local function count_words(l)
  local counts = nil
  for _, w in ipairs(l) do
    local e = counts
    while e and e[1] ~= w do e = e[3] end
    if e then e[2] = e[2] + 1 else counts = {w, 1, counts} end
  end
  return counts
end
local function report(counts)
  local s, n = "", 0
  while counts do s = s .. counts[1] .. ":" .. tostring(counts[2]) .. ";" n = n + 1 counts = counts[3] end
  return s, n
end
local total = 0
for k = 8000, 1, -1 do
  local s, n = report(count_words(split(make_line(k))))
  total = total + #s + n
end
print(total)
