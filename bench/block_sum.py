b = []
for i in range(1000000):
    b.append(i)
total = 0
for i in range(len(b)):
    total += b[i]
print(total)
