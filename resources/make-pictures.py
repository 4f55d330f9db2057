#!/usr/bin/env python3
"""Draws the program's pictures and writes them next to this script.

  FORM_ICON1.ico        the window icon: 16, 32 and 48 pixels, 24-bit colour
                        with a 1-bit transparency mask
  FORM1_IMAGELIST1.bmp  the drive picture of the partition list: 16 x 16,
                        24-bit, RGB(200, 200, 200) as the background that the
                        image list masks out

Plain python3, no extra packages; the output is the same on every run.
"""
import os
import struct

TRANSPARENT = (200, 200, 200)
OUTLINE = (56, 60, 70)
BODY = (150, 158, 172)
BODY_LIGHT = (214, 219, 228)
BODY_DARK = (112, 118, 132)
SLOT = (70, 74, 84)
LED = (40, 210, 60)
SEGMENTS = [(46, 98, 168), (232, 140, 36), (76, 164, 72)]


class Canvas:
    def __init__(self, size, background):
        self.size = size
        self.pixels = [[background] * size for _ in range(size)]
        self.opaque = [[False] * size for _ in range(size)]

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the pixels x0 <= x < x1, y0 <= y < y1."""
        for y in range(max(0, y0), min(self.size, y1)):
            for x in range(max(0, x0), min(self.size, x1)):
                self.pixels[y][x] = colour
                self.opaque[y][x] = True

    def box(self, x0, y0, x1, y1, colour, outline, line):
        self.fill(x0, y0, x1, y1, outline)
        self.fill(x0 + line, y0 + line, x1 - line, y1 - line, colour)


def scaled(value, size):
    """A coordinate of the 16-unit design at this picture size."""
    return round(value * size / 16)


def draw_drive(canvas, top, bottom):
    """A hard disk seen from the front: a grey case with a slot and a lamp."""
    s = canvas.size
    line = max(1, s // 16)
    x0, x1 = scaled(0.5, s), scaled(15.5, s)
    y0, y1 = scaled(top, s), scaled(bottom, s)
    canvas.box(x0, y0, x1, y1, BODY, OUTLINE, line)
    canvas.fill(x0 + line, y0 + line, x1 - line, y0 + 2 * line, BODY_LIGHT)
    canvas.fill(x0 + line, y1 - 2 * line, x1 - line, y1 - line, BODY_DARK)
    middle = (y0 + y1) // 2
    canvas.fill(scaled(2.5, s), middle, scaled(9.5, s), middle + line, SLOT)
    lamp = max(1, scaled(1.5, s))
    canvas.fill(scaled(12, s), middle - lamp // 2, scaled(12, s) + lamp, middle - lamp // 2 + lamp, LED)


def draw_icon(size):
    """The drive with a bar of three partitions above it."""
    canvas = Canvas(size, (0, 0, 0))
    line = max(1, size // 16)
    y0, y1 = scaled(1.5, size), scaled(6.5, size)
    edges = [scaled(v, size) for v in (0.5, 6, 10.5, 15.5)]
    canvas.fill(edges[0], y0, edges[-1], y1, OUTLINE)
    for colour, left, right in zip(SEGMENTS, edges, edges[1:]):
        canvas.fill(left + line, y0 + line, right - line, y1 - line, colour)
    draw_drive(canvas, 8, 15)
    return canvas


def draw_list_picture():
    canvas = Canvas(16, TRANSPARENT)
    draw_drive(canvas, 4, 12)
    return canvas


def rows_bottom_up(canvas):
    """24-bit rows, bottom row first, each padded to four bytes."""
    out = bytearray()
    for y in reversed(range(canvas.size)):
        row = bytearray()
        for r, g, b in canvas.pixels[y]:
            row += bytes((b, g, r))
        row += b"\0" * (-len(row) % 4)
        out += row
    return bytes(out)


def mask_bottom_up(canvas):
    """The 1-bit AND mask of an icon: 1 where the picture is transparent."""
    out = bytearray()
    for y in reversed(range(canvas.size)):
        bits = 0
        row = bytearray()
        for x in range(canvas.size):
            bits = bits << 1 | (0 if canvas.opaque[y][x] else 1)
            if x % 8 == 7:
                row.append(bits)
                bits = 0
        if canvas.size % 8:
            row.append(bits << (8 - canvas.size % 8))
        row += b"\0" * (-len(row) % 4)
        out += row
    return bytes(out)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, image_size, 0, 0, 0, 0)


def icon_file(canvases):
    images = []
    for canvas in canvases:
        xor, mask = rows_bottom_up(canvas), mask_bottom_up(canvas)
        # An icon image's height counts the colour rows and the mask rows.
        images.append(info_header(canvas.size, 2 * canvas.size, len(xor) + len(mask)) + xor + mask)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.size, canvas.size, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def bitmap_file(canvas):
    pixels = rows_bottom_up(canvas)
    offset = 14 + 40
    return (struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
            + info_header(canvas.size, canvas.size, len(pixels)) + pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "FORM_ICON1.ico"), "wb") as f:
        f.write(icon_file([draw_icon(size) for size in (16, 32, 48)]))
    with open(os.path.join(here, "FORM1_IMAGELIST1.bmp"), "wb") as f:
        f.write(bitmap_file(draw_list_picture()))


if __name__ == "__main__":
    main()
