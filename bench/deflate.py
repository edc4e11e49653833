import zlib

text = b"Kel inflates what zlib and Kel compress, line after line 0123456789.\n" * 700000
packed = None
for _ in range(3):
    packed = zlib.compress(text, 1)
print(len(zlib.decompress(packed)))
