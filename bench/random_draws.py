import random

# The generators differ, so the sum itself cannot match: its first digit (a mean near
# 50.5) serves as the check.
random.seed(1)
total = 0
for _ in range(10000000):
    total += random.randrange(100) + 1
print(total // 100000000)
