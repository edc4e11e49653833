from datetime import datetime, timedelta

start = datetime(1990, 1, 1)
texts = [(start + timedelta(days=i * 37)).strftime("%-d-%b-%Y") for i in range(1, 1001)]
n = 0
for i in range(1, 1000001):
    d = datetime.strptime(texts[i % 1000], "%d-%b-%Y")
    n += len(d.strftime("%-d-%b-%Y"))
print(n)
