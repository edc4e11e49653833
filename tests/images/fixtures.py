"""Image files for the codec tests, made at test time: with PIL where it writes the variant,
by hand where it does not (interlaced PNG, 4-bit, top-down and run-length BMP)."""
import io
import struct
import zlib

from PIL import Image


def pattern(w, h, alpha=False):
    """RGB(A) pixels that differ in every channel, so swapped channels show."""
    im = Image.new("RGBA" if alpha else "RGB", (w, h))
    for y in range(h):
        for x in range(w):
            r, g, b = (x * 37 + y * 11) % 256, (x * 5 + y * 53) % 256, (x * 91 + y * 7 + 13) % 256
            im.putpixel((x, y), (r, g, b, (x * 29 + y * 17) % 256) if alpha else (r, g, b))
    return im


def save(im, fmt, **kw):
    out = io.BytesIO()
    im.save(out, fmt, **kw)
    return out.getvalue()


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def interlaced_png(im):
    """RGBA, Adam7 interlaced, every row with filter 0."""
    w, h = im.size
    px = im.load()
    raw = b""
    for x0, y0, dx, dy in [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]:
        xs = range(x0, w, dx)
        if not xs:
            continue
        for y in range(y0, h, dy):
            raw += b"\0" + b"".join(bytes(px[x, y]) for x in xs)
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 1)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", zlib.compress(raw)) + png_chunk(b"IEND", b"")


def bmp(im, bits, top_down=False, fields=False):
    """A BMP of 1, 4, 8, 24 or 32 bits per pixel; palette images take im's palette."""
    w, h = im.size
    stride = (w * bits + 31) // 32 * 4
    if bits <= 8:
        pal = im.getpalette()[: 3 * (1 << bits)]
        pal += [0] * (3 * (1 << bits) - len(pal))
        palette = b"".join(bytes([pal[i + 2], pal[i + 1], pal[i], 0]) for i in range(0, len(pal), 3))
    else:
        palette = b""
    rows = []
    px = im.load()
    for y in range(h):
        row = bytearray(stride)
        for x in range(w):
            if bits <= 8:
                v = px[x, y]
                bit = x * bits
                row[bit // 8] |= v << (8 - bits - bit % 8)
            elif bits == 24:
                r, g, b = px[x, y][:3]
                row[x * 3 : x * 3 + 3] = bytes([b, g, r])
            else:
                p = px[x, y]
                a = p[3] if fields else 0
                row[x * 4 : x * 4 + 4] = bytes([p[2], p[1], p[0], a])
        rows.append(bytes(row))
    if not top_down:
        rows.reverse()
    data = b"".join(rows)
    if fields:
        header = struct.pack("<IiiHHIIiiII", 108, w, -h if top_down else h, 1, bits, 3, len(data), 2835, 2835, 0, 0)
        header += struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000) + b"BGRs" + b"\0" * 48
    else:
        header = struct.pack("<IiiHHIIiiII", 40, w, -h if top_down else h, 1, bits, 0, len(data), 2835, 2835, 0, 0)
    offset = 14 + len(header) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + header + palette + data


def rle_rows(im, bits):
    """Run-length data, rows bottom-up: runs of 3 or more as runs (split at 255), other
    stretches of 3 or more as literals (even lengths for 4 bits), the rest as short runs."""
    w, h = im.size
    px = im.load()
    out = bytearray()
    for y in reversed(range(h)):
        row = [px[x, y] for x in range(w)]
        x = 0
        while x < w:
            n = 1
            while x + n < w and n < 255 and row[x + n] == row[x]:
                n += 1
            if n >= 3:
                out += bytes([n, row[x] * 17 if bits == 4 else row[x]])
                x += n
                continue
            lit = 0  # a literal ends where a run of 3 starts
            while x + lit < w and lit < 254 and not (x + lit + 2 < w and row[x + lit] == row[x + lit + 1] == row[x + lit + 2]):
                lit += 1
            if bits == 4:
                lit -= lit % 2
            if lit >= 3:
                part = row[x : x + lit]
                if bits == 8:
                    data = bytes(part)
                else:
                    data = bytes(part[i] << 4 | part[i + 1] for i in range(0, lit, 2))
                out += bytes([0, lit]) + data + b"\0" * (len(data) % 2)
                x += lit
            else:
                out += bytes([1, row[x] * 17 if bits == 4 else row[x]])
                x += 1
        out += b"\0\0"
    return bytes(out[:-2]) + b"\0\1"


def rle_bmp(im, bits):
    """A run-length BMP (8 or 4 bits) of a palette image."""
    w, h = im.size
    pal = im.getpalette()[: 3 * (1 << bits)]
    pal += [0] * (3 * (1 << bits) - len(pal))
    palette = b"".join(bytes([pal[i + 2], pal[i + 1], pal[i], 0]) for i in range(0, len(pal), 3))
    data = rle_rows(im, bits)
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 1 if bits == 8 else 2, len(data), 2835, 2835, 0, 0)
    offset = 14 + len(header) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + header + palette + data


def runs_image(w, h, colours):
    """A palette image with long runs (some past 255), short ones and noise."""
    im = palette_image(w, h, colours)
    for y in range(h):
        for x in range(w):
            if (x // 40 + y) % 3 == 0 or x > 400:
                im.putpixel((x, y), (y * 5 + x // 40) % colours)
    return im


def palette_image(w, h, colours):
    im = Image.new("P", (w, h))
    im.putpalette([c for i in range(colours) for c in ((i * 67) % 256, (i * 151) % 256, (i * 29 + 90) % 256)])
    for y in range(h):
        for x in range(w):
            im.putpixel((x, y), (x + 3 * y) % colours)
    return im


def animated_gif():
    frames = [palette_image(9, 7, 16)]
    second = palette_image(9, 7, 16)
    second.paste(5, (0, 0, 9, 7))
    frames.append(second)
    return save(frames[0], "GIF", save_all=True, append_images=frames[1:], transparency=3, duration=100, loop=0)


def fixtures():
    """name -> file bytes (every one decodes in PIL)."""
    rgb, rgba = pattern(13, 9), pattern(13, 9, alpha=True)
    pal = palette_image(11, 6, 40)
    pal_t = palette_image(11, 6, 40)
    pal_t.info["transparency"] = 7
    return {
        "png-rgb": save(rgb, "PNG"),
        "png-rgba": save(rgba, "PNG"),
        "png-grey": save(rgb.convert("L"), "PNG"),
        "png-grey-alpha": save(rgba.convert("LA"), "PNG"),
        "png-palette": save(pal, "PNG"),
        "png-palette-transparent": save(pal_t, "PNG", transparency=7),
        "png-1bit": save(rgb.convert("1"), "PNG"),
        "png-interlaced": interlaced_png(rgba),
        "jpeg-baseline": save(rgb, "JPEG", quality=90),
        "jpeg-progressive": save(rgb, "JPEG", quality=90, progressive=True),
        "jpeg-grey": save(rgb.convert("L"), "JPEG"),
        "gif-palette": save(pal, "GIF"),
        "gif-animated": animated_gif(),
        "bmp-1": bmp(palette_image(13, 9, 2), 1),
        "bmp-4": bmp(palette_image(13, 9, 16), 4),
        "bmp-4-top-down": bmp(palette_image(13, 9, 16), 4, top_down=True),
        "bmp-8": bmp(pal, 8),
        "bmp-8-top-down": bmp(pal, 8, top_down=True),
        "bmp-rle8": rle_bmp(runs_image(700, 5, 200), 8),
        "bmp-rle4": rle_bmp(runs_image(301, 6, 16), 4),
        "bmp-24": bmp(rgb, 24),
        "bmp-24-top-down": bmp(rgb, 24, top_down=True),
        "bmp-32-fields": bmp(rgba, 32, fields=True),
        "bmp-32-fields-top-down": bmp(rgba, 32, fields=True, top_down=True),
        "bmp-32-padding": bmp(rgba, 32),
        "bmp-pil": save(rgb, "BMP"),
        "tiff-rgb": save(rgb, "TIFF"),
        "tiff-rgba": save(rgba, "TIFF"),
        "tiff-lzw": save(rgb, "TIFF", compression="tiff_lzw"),
        "tiff-grey": save(rgb.convert("L"), "TIFF"),
    }
