line = "alpha,12345,beta gamma,3.25,delta epsilon zeta,x\n"
text = line * (10000000 // len(line))
n = 0
for l in text.split("\n"):
    if l:
        n += len(l.split(","))
print(n)
