local parts = {}
for i = 1, 200000 do parts[#parts + 1] = "abcdefghi " end
local s = table.concat(parts)
local total = 0
for pass = 1, 10 do
    local out = {}
    local p = string.find(s, "ghi", 1, true)
    while p do
        out[#out + 1] = string.sub(s, p, p + 1)
        p = string.find(s, "ghi", p + 3, true)
    end
    if string.find(s, "xyz", 1, true) then total = total + 1 end
    out[#out + 1] = string.sub(s, 1, 1000000)
    total = total + #table.concat(out)
end
print(total)
