#!/usr/bin/env python3
"""Draws the applet's pictures into OUTDIR:

- tick.bmp   (bitmap 116): 11 x 12, 24 bits per pixel, a green (0, 128, 0) tick on white;
- cross.bmp  (bitmap 118): 11 x 12, 16 colours, a red (255, 0, 0) cross on white;
- applet.ico (icon 103): one 32 x 32 image with 256 colours, a DIO board with its
  chip, status lights and terminal block, for the Control Panel.

Only the standard library is used, so the build needs nothing but python3.
"""
import struct
import sys
from pathlib import Path

WHITE = (255, 255, 255)
GREEN = (0, 128, 0)
RED = (255, 0, 0)

# The 16 standard colours, in their usual order (index 9 is red, 15 white).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def strokes(width, height, segments, thickness=2):
    """Pixels on the given line segments, each `thickness` pixels wide (downwards)."""
    on = set()
    for (x0, y0), (x1, y1) in segments:
        steps = max(abs(x1 - x0), abs(y1 - y0))
        for i in range(steps + 1):
            x = x0 + round(i * (x1 - x0) / steps)
            y = y0 + round(i * (y1 - y0) / steps)
            for t in range(thickness):
                if 0 <= x < width and 0 <= y + t < height:
                    on.add((x, y + t))
    return on


def dib_header(width, height, bpp, colours):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bpp, 0, 0, 2835, 2835, colours, 0)


def rows_bottom_up(width, height, bpp, pixel):
    """Pixel rows, bottom row first, each padded to four bytes. `pixel(x, y)`
    gives an (r, g, b) for 24 bits or a palette index otherwise."""
    stride = (width * bpp + 31) // 32 * 4
    out = bytearray()
    for y in reversed(range(height)):
        row = bytearray()
        if bpp == 24:
            for x in range(width):
                r, g, b = pixel(x, y)
                row += bytes((b, g, r))
        else:
            bits = 0
            count = 0
            for x in range(width):
                bits = (bits << bpp) | pixel(x, y)
                count += bpp
                if count == 8:
                    row.append(bits)
                    bits = count = 0
            if count:
                row.append(bits << (8 - count))
        row += bytes(stride - len(row))
        out += row
    return bytes(out)


def bmp_file(dib):
    palette_and_header = 40 + (struct.unpack_from('<I', dib, 32)[0] * 4)
    return b'BM' + struct.pack('<IHHI', 14 + len(dib), 0, 0, 14 + palette_and_header) + dib


def palette_bytes(colours):
    return b''.join(bytes((b, g, r, 0)) for r, g, b in colours)


def tick():
    on = strokes(11, 12, [((1, 5), (4, 8)), ((4, 8), (9, 2))])
    return bmp_file(dib_header(11, 12, 24, 0) +
                    rows_bottom_up(11, 12, 24, lambda x, y: GREEN if (x, y) in on else WHITE))


def cross():
    on = strokes(11, 12, [((1, 1), (9, 9)), ((9, 1), (1, 9))])
    index = lambda x, y: VGA.index(RED) if (x, y) in on else VGA.index(WHITE)
    return bmp_file(dib_header(11, 12, 4, 16) + palette_bytes(VGA) + rows_bottom_up(11, 12, 4, index))


def icon_palette():
    colours = list(VGA)
    levels = (0, 51, 102, 153, 204, 255)
    colours += [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(8 * i + 8, 8 * i + 8, 8 * i + 8) for i in range(256 - len(colours))]
    return colours


def board_picture():
    """The 32 x 32 picture as (r, g, b) or None for transparent."""
    pcb, pcb_edge = (0, 102, 51), (0, 51, 0)
    chip, pin, gold = (0, 0, 0), (192, 192, 192), (255, 204, 0)
    picture = [[None] * 32 for _ in range(32)]
    for y in range(3, 27):
        for x in range(1, 31):
            edge = y in (3, 26) or x in (1, 30)
            picture[y][x] = pcb_edge if edge else pcb
    for x in range(3, 29, 2):  # the terminal block at the bottom edge
        for y in range(27, 30):
            picture[y][x] = gold
    for y in range(8, 20):  # the chip with its pins
        for x in range(9, 21):
            picture[y][x] = chip
        if y % 2 == 0:
            picture[y][7] = picture[y][8] = pin
            picture[y][21] = picture[y][22] = pin
    lights = [(0, 255, 0), (0, 255, 0), (255, 0, 0), (255, 255, 0)]
    for i, colour in enumerate(lights):  # status lights along the top
        for dy in range(2):
            for dx in range(2):
                picture[5 + dy][5 + 6 * i + dx] = colour
    for x in range(4, 28):  # tracks from the chip to the terminal block
        if x % 4 == 0:
            for y in range(20, 26):
                picture[y][x] = gold if picture[y][x] == pcb else picture[y][x]
    return picture


def applet_icon():
    colours = icon_palette()
    picture = board_picture()
    index = {c: i for i, c in reversed(list(enumerate(colours)))}
    for row in picture:
        for colour in row:
            if colour is not None and colour not in index:
                raise SystemExit(f'colour {colour} is not in the icon palette')
    xor = rows_bottom_up(32, 32, 8, lambda x, y: index[picture[y][x]] if picture[y][x] else 0)
    mask = rows_bottom_up(32, 32, 1, lambda x, y: 1 if picture[y][x] is None else 0)
    image = dib_header(32, 64, 8, 0) + palette_bytes(colours) + xor + mask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', 32, 32, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        raise SystemExit('usage: make_images.py OUTDIR')
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / 'tick.bmp').write_bytes(tick())
    (out / 'cross.bmp').write_bytes(cross())
    (out / 'applet.ico').write_bytes(applet_icon())


if __name__ == '__main__':
    main()
