"""Image bench: makes a 4000x3000 photo-like picture, saves it as PNG and JPEG with PIL,
builds image_bench.cpp (optimised, against the system's codec libraries) and prints each
step's time next to PIL's on the same files, with the ratio. Run: python3 bench/images/run.py
(needs a python3 with PIL, g++ and the -dev packages of libpng, libjpeg, giflib, libtiff)."""
import os
import random
import subprocess
import sys
import tempfile

from PIL import Image, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
ROUNDS = "2"


def picture(w, h):
    # Smooth gradients with noise and blurred shapes: compresses like a photograph.
    random.seed(7)
    im = Image.radial_gradient("L").resize((w, h)).convert("RGB")
    noise = Image.effect_noise((w, h), 40).convert("RGB")
    im = Image.blend(im, noise, 0.3)
    small = Image.new("RGB", (w // 20, h // 20))
    px = small.load()
    for y in range(h // 20):
        for x in range(w // 20):
            px[x, y] = (random.randrange(256), random.randrange(256), random.randrange(256))
    shapes = small.resize((w, h), Image.BILINEAR).filter(ImageFilter.GaussianBlur(3))
    return Image.blend(im, shapes, 0.6)


with tempfile.TemporaryDirectory() as tmp:
    png, jpg, exe = os.path.join(tmp, "p.png"), os.path.join(tmp, "p.jpg"), os.path.join(tmp, "image_bench")
    im = picture(4000, 3000)
    im.save(png)
    im.save(jpg, quality=90)
    sources = [os.path.join(HERE, "image_bench.cpp"), os.path.join(ROOT, "datatypes", "image_pixels.cpp"),
               os.path.join(ROOT, "runtime", "pixel_memory.cpp")]
    sources += [os.path.join(ROOT, "host", f) for f in sorted(os.listdir(os.path.join(ROOT, "host")))
                if f.startswith("imag") and f.endswith(".cpp")]
    # The release build's flags (CMake's Release, as tools/build-release uses): at -O2 the
    # PNG writer's row loops were not vectorised and the figures were not kel's.
    subprocess.run(["g++", "-std=c++20", "-O3", "-DNDEBUG", "-fno-tree-slp-vectorize", "-I", ROOT, "-o", exe]
                   + sources + ["-lpng", "-ljpeg", "-lgif", "-ltiff", "-lz"], check=True)
    commands = ((True, [exe, png, jpg, ROUNDS]), (False, [sys.executable, os.path.join(HERE, "image_bench.py"), png, jpg, ROUNDS]))

    def measure(order):
        """The best time of each step over the runs, for kel and for PIL."""
        tables = {True: {}, False: {}}
        for is_kel, cmd in order:
            for line in subprocess.run(cmd, capture_output=True, text=True, check=True).stdout.split("\n"):
                if line:
                    k, v = line.split()
                    tables[is_kel][k] = min(float(v), tables[is_kel].get(k, 1e9))
        return tables[True], tables[False]

    # Both ways: alternated (each kel run next to a PIL run, so a change of load hits both)
    # and in sequence (three kel runs, then three PIL runs). On a shared machine they differ.
    for label, order in (("alternated", [c for _ in range(3) for c in commands]),
                         ("in sequence", [c for c in commands for _ in range(3)])):
        ours, pil = measure(order)
        print(f"{'step':16} {'kel s':>8} {'PIL s':>8} {'ratio':>6}   (4000x3000, best of 3 x {ROUNDS} runs, {label})")
        for k in ours:
            print(f"{k:16} {ours[k]:8.3f} {pil[k]:8.3f} {ours[k] / pil[k]:6.2f}")
