def f(a, b, c):
    d = a + b
    e = b * c
    return d + e - a


s = 0
for i in range(1, 3000001):
    s = (s + f(i, 3, 5)) % 1000003
print(s)
