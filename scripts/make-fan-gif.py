#!/usr/bin/env python3
"""Writes src/gui/art/fan.gif: the turning four-blade fan the Ibis page shows
while its fan runs. 48x48 pixels, 8 frames, looping; drawn and LZW-encoded
here with the standard library only, so the same bytes come out every run.

Usage: scripts/make-fan-gif.py [OUTPUT]
"""
import math
import os
import struct
import sys

SIZE = 48
FRAMES = 8
DELAY_CS = 6  # hundredths of a second per frame
# Palette: background, housing ring, blades, hub.
PALETTE = [(0xF0, 0xF0, 0xF0), (0x50, 0x5A, 0x64), (0x2E, 0x7D, 0xC8), (0x20, 0x20, 0x20)]
BACKGROUND, RING, BLADE, HUB = range(4)


def draw(frame):
    """One frame as a list of palette indexes, row by row. The four blades
    repeat every quarter turn, so eight frames cover 90 degrees."""
    turn = frame * (math.pi / 2) / FRAMES
    centre = (SIZE - 1) / 2.0
    pixels = []
    for y in range(SIZE):
        for x in range(SIZE):
            dx, dy = x - centre, y - centre
            r = math.hypot(dx, dy)
            colour = BACKGROUND
            if 21.0 <= r <= 23.5:
                colour = RING
            elif r <= 4.5:
                colour = HUB
            elif r <= 19.5:
                angle = (math.atan2(dy, dx) - turn) % (math.pi / 2)
                # A blade is a sector that widens towards its tip.
                width = 0.35 + 0.45 * (r / 19.5)
                if angle < width:
                    colour = BLADE
            pixels.append(colour)
    return pixels


def lzw(pixels, min_code_size):
    """GIF's variable-width LZW: clear code first, dictionary reset at 4096."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bits = 0
    nbits = 0

    def emit(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    prefix = ()
    for p in pixels:
        candidate = prefix + (p,)
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix], width)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            # The decoder widens its codes once the next code needs the bit.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        prefix = (p,)
    if prefix:
        emit(table[prefix], width)
    emit(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    blocks = bytearray()
    for at in range(0, len(data), 255):
        chunk = data[at:at + 255]
        blocks.append(len(chunk))
        blocks += chunk
    blocks.append(0)
    return bytes(blocks)


def gif():
    min_code_size = 2
    data = bytearray(b"GIF89a")
    # Logical screen with a global table of 4 colours (size field 1 = 2^2).
    data += struct.pack("<HHBBB", SIZE, SIZE, 0x80 | 0x10 | 0x01, BACKGROUND, 0)
    for rgb in PALETTE:
        data += bytes(rgb)
    # Loop for ever.
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for frame in range(FRAMES):
        data += b"\x21\xF9\x04" + struct.pack("<BHBB", 0x04, DELAY_CS, 0, 0)
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        data.append(min_code_size)
        data += sub_blocks(lzw(draw(frame), min_code_size))
    data += b"\x3B"
    return bytes(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src", "gui", "art", "fan.gif")
    with open(output, "wb") as f:
        f.write(gif())
    print("Wrote", os.path.normpath(output))


if __name__ == "__main__":
    main()
