a = []
b = []
for i in range(1, 1000001):
    a.append(i % 600000)
    b.append(i * 7 % 1000003)
u = list(dict.fromkeys(a))
v = list(dict.fromkeys(a + b))
print(len(u) + len(v) + u[-1] + v[-1])
