x, y = 0, 0
for i in range(1, 10000001):
    x, y = x + 1, y + 3
print(f"{x}x{y}")
