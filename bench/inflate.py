import zlib

text = b"Kel inflates what zlib and Kel compress, line after line 0123456789.\n" * 700000
packed = zlib.compress(text, 1)
out = None
for _ in range(5):
    out = zlib.decompress(packed)
print(len(out))
