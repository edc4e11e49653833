from array import array
v = array("i", [1]) * 10000000
for _ in range(20):
    v = array("i", ((e * 3 + 2**31) % 2**32 - 2**31 for e in v))
print(v[0])
