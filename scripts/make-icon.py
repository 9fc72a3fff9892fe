#!/usr/bin/env python3
# Writes resources/dossierkit.ico: one 32x32 32-bit image, a dark page with a
# green band. Run again only to change the icon; the result is committed.
import os
import struct

W = H = 32
pixels = bytearray()
for y in range(H):  # rows bottom-up, BGRA
    for x in range(W):
        if 4 <= x < 28 and 2 <= y < 30:
            pixels += bytes((0x40, 0xA0, 0x20, 0xFF)) if 12 <= y < 18 else bytes((0x30, 0x30, 0x30, 0xFF))
        else:
            pixels += bytes((0, 0, 0, 0))
mask = bytes(((W + 31) // 32) * 4 * H)
bitmap = struct.pack('<IiiHHIIiiII', 40, W, H * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
bitmap += bytes(pixels) + mask
icon = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', W, H, 0, 0, 1, 32, len(bitmap), 22) + bitmap
target = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources', 'dossierkit.ico')
with open(target, 'wb') as out:
    out.write(icon)
