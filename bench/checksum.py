import hashlib
import zlib

data = bytes(range(256)) * 390625
crc = zlib.crc32(data)
digest = hashlib.sha256(data).digest()
# Kel's integer! is 32 bits, signed.
print(crc - (1 << 32) if crc >= 1 << 31 else crc, digest[0], digest[-1])
