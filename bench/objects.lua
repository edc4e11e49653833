local o = {x = 0, y = 3, z = 7}
for i = 1, 5000000 do o.x = o.x + o.y end
print(o.x)
