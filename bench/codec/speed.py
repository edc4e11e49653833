#!/usr/bin/env python3
"""Our DEFLATE coder against python3's zlib, in one run.

Makes 50 MB of text, its zlib.compress(level 6) stream, builds codec_bench with -O2 and
prints, best of five each in process CPU time (wall time on a shared machine mostly
measures the neighbours): inflate of that stream by python3's zlib.decompress and by our
coder, and compress of the text by zlib.compress(level=1) and by our coder, with ratios.
Kel cannot read a file yet, so the stream reaches our coder through this C++ program.
A second compress line times the one compression of a fresh process (best of five
processes each): its output's pages are all new, as for a program that compresses once.
Within one process python3's allocator hands a freed output back warm to the next run,
while an output as large as ours (over glibc's 32 MB mapping threshold) is always mapped
afresh, and touching fresh pages is most of the cost on some virtual machines.
"""
import os
import random
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SIZE = 50_000_000


def text(size):
    rng = random.Random(1)
    words = [("".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9)))) for _ in range(5000)]
    parts, n = [], 0
    while n < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 14))) + ".\n"
        parts.append(line)
        n += len(line)
    return "".join(parts).encode()[:size]


def best(f, runs=5):
    t = []
    for _ in range(runs):
        s = time.process_time()
        f()
        t.append(time.process_time() - s)
    return min(t)


def main():
    data = text(SIZE)
    stream = zlib.compress(data, 6)
    with tempfile.TemporaryDirectory() as tmp:
        exe = os.path.join(tmp, "codec_bench")
        subprocess.run(["g++", "-O2", "-std=c++20", "-I" + ROOT, os.path.join(HERE, "codec_bench.cpp"),
                        os.path.join(ROOT, "codec", "deflate.cpp"), os.path.join(ROOT, "codec", "checksums.cpp"), "-o", exe], check=True)
        sp, tp = os.path.join(tmp, "stream"), os.path.join(tmp, "text")
        open(sp, "wb").write(stream)
        open(tp, "wb").write(data)
        py_inflate = best(lambda: zlib.decompress(stream))
        py_deflate = best(lambda: zlib.compress(data, 1))
        out = subprocess.run([exe, sp, tp], check=True, capture_output=True, text=True).stdout
        once = "import sys, time, zlib\nd = open(sys.argv[1], 'rb').read()\nt = time.process_time()\n" \
               "zlib.compress(d, 1)\nprint(time.process_time() - t)\n"
        py_once = min(float(subprocess.run([sys.executable, "-c", once, tp], check=True, capture_output=True,
                                           text=True).stdout) for _ in range(5))
        our_once = min(float(subprocess.run([exe, "--once", tp], check=True, capture_output=True,
                                            text=True).stdout) for _ in range(5))
    ours = dict(line.split() for line in out.splitlines())
    mb = len(data) / 1e6
    print(f"text {mb:.0f} MB, zlib level 6 stream {len(stream) / 1e6:.1f} MB")
    print(f"inflate  python3 zlib {py_inflate:.3f} s   ours {float(ours['inflate']):.3f} s   "
          f"ratio ours/python {float(ours['inflate']) / py_inflate:.2f}")
    print(f"compress python3 zlib level 1 {py_deflate:.3f} s ({mb / py_deflate:.0f} MB/s, "
          f"{len(zlib.compress(data, 1)) / 1e6:.1f} MB)   ours {float(ours['deflate']):.3f} s "
          f"({mb / float(ours['deflate']):.0f} MB/s, {int(ours['packed']) / 1e6:.1f} MB)   "
          f"ratio ours/python {float(ours['deflate']) / py_deflate:.2f}")
    print(f"compress once per process: python3 zlib level 1 {py_once:.3f} s   ours {our_once:.3f} s   "
          f"ratio ours/python {our_once / py_once:.2f}")


if __name__ == "__main__":
    sys.exit(main())
