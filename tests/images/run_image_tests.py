"""Image codecs end to end: files made by PIL (or by hand) are decoded by kel and compared
pixel by pixel with PIL's decode; images made in kel are encoded and decoded by PIL; bad
files give none or the size error, never a crash.

Usage: run_image_tests.py path/to/kel"""
import io
import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from PIL import Image  # noqa: E402

import fixtures  # noqa: E402

KEL = sys.argv[1]
failures = []


def run_kel(body):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "images.kel")
        with open(path, "w") as f:
            f.write("Kel []\n" + body)
        p = subprocess.run([KEL, path], capture_output=True, timeout=600, stdin=subprocess.DEVNULL)
    if p.returncode != 0:
        failures.append(f"kel ended with {p.returncode}: {p.stdout.decode()[-500:]} {p.stderr.decode()[-2000:]}")
    return p.stdout.decode("utf-8", "replace")


def kel_binary(data):
    return "#{" + data.hex().upper() + "}"


def hex_bytes(text):
    return bytes.fromhex(re.sub(r"[^0-9A-Fa-f]", "", text))


def sections(out):
    """Splits the output at lines '== name' into name -> lines."""
    result, name = {}, None
    for line in out.splitlines():
        if line.startswith("== "):
            name = line[3:].strip()
            result[name] = []
        elif name:
            result[name].append(line)
    return result


def check(cond, what):
    if not cond:
        failures.append(what)


def pil_pixels(data):
    im = Image.open(io.BytesIO(data))
    im.seek(0)
    im = im.convert("RGBA")
    raw = im.tobytes()
    rgb = bytes(b for i, b in enumerate(raw) if i % 4 != 3)
    trans = bytes(255 - raw[i] for i in range(3, len(raw), 4))
    return im.size, rgb, trans


# ---- decoding against PIL --------------------------------------------------------------------

DECODE = """print "== {name}"
r: try [system/codecs/png/decode {data}]
either error? r [print ["ERROR" r/type r/id]] [either none? r [print "NONE"] [print ["SIZE" r/size] probe r/rgb probe r/alpha]]
"""


def decode_all(cases):
    body = "".join(DECODE.format(name=n, data=kel_binary(d)) for n, d in cases.items())
    return sections(run_kel(body))


def block_text(lines, marker_from):
    """The molded binaries after the SIZE line: the first #{...} and the second."""
    text = "\n".join(lines[marker_from:])
    parts = re.findall(r"#\{([^}]*)\}", text)
    return [hex_bytes(p) for p in parts]


cases = fixtures.fixtures()
decoded = decode_all(cases)
for name, data in cases.items():
    lines = decoded.get(name, [])
    if not lines or not lines[0].startswith("SIZE"):
        failures.append(f"{name}: kel did not decode it: {lines[:3]}")
        continue
    (w, h), rgb, trans = pil_pixels(data)
    check(lines[0] == f"SIZE {w}x{h}", f"{name}: size {lines[0]} against {w}x{h}")
    got_rgb, got_trans = block_text(lines, 1)
    lossy = name.startswith("jpeg")
    tolerance = 2 if lossy else 0
    if name == "bmp-32-padding":
        # PIL reads the fourth byte as padding; so do we when every one of them is 0.
        trans = bytes(len(trans))
    if len(got_rgb) != len(rgb) or any(abs(a - b) > tolerance for a, b in zip(got_rgb, rgb)):
        diff = next((i for i, (a, b) in enumerate(zip(got_rgb, rgb)) if abs(a - b) > tolerance), None)
        failures.append(f"{name}: rgb differs from PIL's at byte {diff} ({len(got_rgb)} against {len(rgb)} bytes)")
    check(got_trans == trans, f"{name}: transparency differs from PIL's")

# ---- encoding: kel writes, PIL reads -------------------------------------------------------------

# Pixels R.G.B.T made in kel: a gradient with varied transparency (opaque for JPEG and GIF).
MAKE = """img: make image! 17x11
repeat y 11 [repeat x 17 [poke img y - 1 * 17 + x to tuple! reduce [x * 13 % 256  y * 23 % 256  y * 7 + x % 256  {t}]]]
"""
ENCODE = """print "== {name}"
probe system/codecs/{codec}/encode img none
"""


def expected_pixels(alpha):
    out = []
    for y in range(1, 12):
        for x in range(1, 18):
            t = (x * 3 + y * 5) % 256 if alpha else 0
            out.append(((x * 13) % 256, (y * 23) % 256, (x + y * 7) % 256, 255 - t))
    return out


for alpha, codecs in [(True, ["png", "bmp", "tiff"]), (False, ["png", "bmp", "tiff", "jpeg", "gif"])]:
    t = "y * 5 + (x * 3) % 256" if alpha else "0"
    body = MAKE.format(t=t) + "".join(ENCODE.format(name=c, codec=c) for c in codecs)
    out = sections(run_kel(body))
    want = expected_pixels(alpha)
    for c in codecs:
        data = hex_bytes("".join(out.get(c, [])))
        label = f"encode {c}{' with alpha' if alpha else ''}"
        try:
            im = Image.open(io.BytesIO(data))
            check(im.format == {"png": "PNG", "bmp": "BMP", "tiff": "TIFF", "jpeg": "JPEG", "gif": "GIF"}[c],
                  f"{label}: PIL sees {im.format}")
            got = list(im.convert("RGBA").getdata())
        except Exception as e:  # noqa: BLE001
            failures.append(f"{label}: PIL cannot read it: {e}")
            continue
        check(im.size == (17, 11), f"{label}: size {im.size}")
        if c == "jpeg":
            worst = max(abs(a - b) for p, q in zip(got, want) for a, b in zip(p[:3], q[:3]))
            check(worst <= 40, f"{label}: off by {worst}")
        elif c == "gif":
            # At most 256 colours: these 187 pixels fit, so the palette is exact.
            check(got == want, f"{label}: pixels differ")
        else:
            check(got == want, f"{label}: pixels differ")
            if c == "bmp" and alpha:
                check(got[0][3] != 255, f"{label}: alpha lost")

# ---- GIF with more than 256 colours: reduced to a palette, each pixel close to its colour --------

many = bytes(v for i in range(4096) for v in ((i % 64) * 4, (i // 64) * 4, (i * 37) % 256))
out = sections(run_kel(f'print "== gif"\nprobe system/codecs/gif/encode make image! [64x64 {kel_binary(many)}] none\n'))
try:
    got = list(Image.open(io.BytesIO(hex_bytes("".join(out.get("gif", []))))).convert("RGB").getdata())
    errors = [abs(a - b) for i, p in enumerate(got) for a, b in zip(p, many[i * 3 : i * 3 + 3])]
    check(len(got) == 4096, "gif 4096 colours: size")
    check(sum(errors) / len(errors) < 16 and max(errors) < 48, f"gif 4096 colours: mean {sum(errors) / len(errors):.1f}, worst {max(errors)}")
except Exception as e:  # noqa: BLE001
    failures.append(f"gif 4096 colours: PIL cannot read it: {e}")

# ---- bad input -------------------------------------------------------------------------------------


def bmp_claiming(w, h):
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, 0, 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 54 + 64, 0, 0, 54) + header + b"\0" * 64


def png_claiming(w, h):
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
    idat = zlib.compress(b"\0" * 100)
    return (b"\x89PNG\r\n\x1a\n" + fixtures.png_chunk(b"IHDR", ihdr) + fixtures.png_chunk(b"IDAT", idat)
            + fixtures.png_chunk(b"IEND", b""))


def gif_claiming(w, h):
    return b"GIF89a" + struct.pack("<HHBBB", w, h, 0, 0, 0) + b",\0\0\0\0" + struct.pack("<HH", w, h) + b"\0\2\2L\1\0;"


bad = {}
for name, data in cases.items():
    bad["cut-" + name] = data[: len(data) // 2]
    corrupt = bytearray(data)
    for i in range(len(corrupt) // 3, len(corrupt), 7):
        corrupt[i] ^= 0x5A
    bad["corrupt-" + name] = bytes(corrupt)
bad["unknown"] = b"not an image at all"
bad["empty"] = b""
bad["signature-only-png"] = b"\x89PNG"
bad["signature-only-jpeg"] = b"\xff\xd8\xff"
bad["signature-only-tiff"] = b"II*\0"
huge = {
    "huge-bmp": bmp_claiming(100000, 100000),
    "huge-png": png_claiming(100000, 100000),
    "tall-bmp-under-limit": bmp_claiming(60000, 60000),
    "tall-png-under-limit": png_claiming(60000, 60000),
    "huge-gif-frame": gif_claiming(65535, 65535),
}
out = decode_all({**bad, **huge})
for name in bad:
    lines = out.get(name, [])
    ok = lines[:1] == ["NONE"] or (lines[:1] and lines[0].startswith("SIZE"))
    # A corrupted file may still decode (a flipped pixel byte), but never crash or raise.
    check(ok, f"{name}: {lines[:2]}")
    if name.startswith("cut-") or name in ("unknown", "empty") or name.startswith("signature-only"):
        check(lines[:1] == ["NONE"], f"{name}: a cut file must give none, got {lines[:1]}")
check(out.get("huge-bmp", [""])[0] == "ERROR script out-of-range", f"huge-bmp: {out.get('huge-bmp')}")
check(out.get("huge-png", [""])[0] == "ERROR script out-of-range", f"huge-png: {out.get('huge-png')}")
for name in ("tall-bmp-under-limit", "tall-png-under-limit"):
    check(out.get(name, [""])[0] in ("NONE", "ERROR internal no-memory"), f"{name}: {out.get(name)}")
check(out.get("huge-gif-frame", [""])[0] in ("NONE", "ERROR internal no-memory"), f"huge-gif-frame: {out.get('huge-gif-frame')}")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("image codecs: all checks passed")
