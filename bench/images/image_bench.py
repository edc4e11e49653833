"""The same work as image_bench.cpp with PIL: python3 image_bench.py FILE.png FILE.jpg ROUNDS."""
import io
import sys
import time

from PIL import Image


def best(rounds, f):
    b = 1e9
    for _ in range(rounds):
        t = time.perf_counter()
        f()
        b = min(b, time.perf_counter() - t)
    return b


rounds = int(sys.argv[3])
for path, kind, fmt in [(sys.argv[1], "png", "PNG"), (sys.argv[2], "jpeg", "JPEG")]:
    data = open(path, "rb").read()
    holder = {}

    def decode():
        im = Image.open(io.BytesIO(data))
        im.load()
        holder["im"] = im

    print(f"{kind}-decode {best(rounds, decode):.4f}")
    im = holder["im"]
    print(f"{kind}-encode {best(rounds, lambda: im.save(io.BytesIO(), fmt)):.4f}")
    if kind == "png":
        w, h = im.size
        print(f"scale-nearest {best(rounds, lambda: im.resize((w // 4, h // 4), Image.NEAREST)):.4f}")
