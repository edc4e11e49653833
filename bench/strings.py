parts = []
for i in range(200000):
    parts.append("abcdefghi ")
s = "".join(parts)
total = 0
for pass_ in range(10):
    out = []
    p = s.find("ghi")
    while p >= 0:
        out.append(s[p:p + 2])
        p = s.find("ghi", p + 3)
    if s.find("xyz") >= 0:
        total += 1
    out.append(s[:1000000])
    total += len("".join(out))
print(total)
