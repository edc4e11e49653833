b = []
for i in range(1, 250001):
    b += [i, "s", "w", 2.5]
n = 0
for _ in range(5):
    ok = True
    it = iter(b)
    for v in it:
        if not (isinstance(v, int) and isinstance(next(it), str) and isinstance(next(it), str)
                and isinstance(next(it), float)):
            ok = False
            break
    if ok:
        n += len(b)
print(n)
