# The hash! twin: keys at odd positions of a list, indexed by a dict of value -> position.
h = []
for i in range(1, 50001):
    h += [i, -i]
index = {}
for pos, v in enumerate(h):
    index.setdefault(v, pos)
total = 0
k = 0
for i in range(500000):
    k += 7919
    if k > 50000:
        k -= 50000
    total += -h[index[k] + 1] + index[k] + 1
print(total)
