local function f(a, b, c)
    local d = a + b
    local e = b * c
    return d + e - a
end

local s = 0
for i = 1, 3000000 do s = (s + f(i, 3, 5)) % 1000003 end
print(s)
