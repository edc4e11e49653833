from decimal import Decimal

m = Decimal("0")
c = Decimal("0.01")
for i in range(10000000):
    m += c
print("$" + str(m))
