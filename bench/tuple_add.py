t = (0, 0, 0)
clamp = lambda v: min(255, max(0, v))
for i in range(1, 10000001):
    t = tuple(clamp(a + b) for a, b in zip(t, (0, 0, 1)))
    t = tuple(clamp(a - b) for a, b in zip(t, (0, 0, 1)))
    t = tuple(clamp(a + b) for a, b in zip(t, (1, 0, 0)))
print(".".join(map(str, t)))
