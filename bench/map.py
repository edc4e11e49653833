m = {}
for i in range(1, 500001):
    m[i] = i
    m[str(i)] = i
total = 0
for i in range(1, 500001):
    total += m[i] + m[str(i)]
print(total)
