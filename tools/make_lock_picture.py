#!/usr/bin/env python3
"""Writes the default lock picture BLOCKED.BMP: a locked-station message in light letters on a
dark background, 640 x 480, 24 bits a pixel.

The agent shows the first pixel row stored in the file at the top of the screen, so the rows are
stored top first (a BMP viewer shows this file upside down; on the lock screen it stands upright).
"""

import struct
import sys

WIDTH = 640  # a multiple of 4: no filler bytes between rows
HEIGHT = 480
BACKGROUND = (0x18, 0x1C, 0x2A)  # dark slate, as (red, green, blue)
FRAME = (0x50, 0x60, 0x80)
TEXT = (0xF0, 0xF0, 0xF0)
ACCENT = (0xE8, 0x50, 0x40)

# A 5 x 7 pixel font: each glyph is seven rows of five columns, '#' for ink.
GLYPHS = {
    " ": ["     "] * 7,
    ".": ["     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "],
    "A": [" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "C": [" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "],
    "D": ["#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "],
    "E": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"],
    "F": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "],
    "H": ["#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "I": [" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "],
    "K": ["#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"],
    "L": ["#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"],
    "M": ["#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"],
    "N": ["#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"],
    "O": [" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "P": ["#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "],
    "R": ["#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"],
    "S": [" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "],
    "T": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    "U": ["#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "Y": ["#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "],
}


def blank():
    return [[BACKGROUND] * WIDTH for _ in range(HEIGHT)]


def fill(image, left, top, width, height, colour):
    for y in range(top, top + height):
        for x in range(left, left + width):
            image[y][x] = colour


def text_width(text, scale):
    return (len(text) * 6 - 1) * scale


def draw_text(image, text, top, scale, colour):
    """Draws text centred across the picture, its glyph cells 6 x 8 pixels before scaling."""
    left = (WIDTH - text_width(text, scale)) // 2
    for index, character in enumerate(text):
        glyph = GLYPHS[character]
        for row, line in enumerate(glyph):
            for column, cell in enumerate(line):
                if cell == "#":
                    fill(image, left + (index * 6 + column) * scale, top + row * scale, scale,
                         scale, colour)


def draw_padlock(image, centre_x, top):
    """A plain padlock: a shackle of three bars over a body with a keyhole."""
    fill(image, centre_x - 30, top, 60, 10, ACCENT)
    fill(image, centre_x - 30, top, 10, 50, ACCENT)
    fill(image, centre_x + 20, top, 10, 50, ACCENT)
    fill(image, centre_x - 50, top + 50, 100, 70, ACCENT)
    fill(image, centre_x - 6, top + 70, 12, 30, BACKGROUND)


def draw_picture():
    image = blank()
    for inset, colour in ((12, FRAME), (16, BACKGROUND)):
        fill(image, inset, inset, WIDTH - 2 * inset, HEIGHT - 2 * inset, colour)
    draw_padlock(image, WIDTH // 2, 70)
    draw_text(image, "THIS STATION IS LOCKED", 240, 4, TEXT)
    draw_text(image, "YOUR TIME IS UP OR THE OPERATOR LOCKED IT.", 330, 2, TEXT)
    draw_text(image, "PLEASE ASK THE OPERATOR FOR MORE TIME.", 370, 2, TEXT)
    return image


def bmp_bytes(image):
    pixels = bytearray()
    for row in image:  # top row first: see the module comment
        for red, green, blue in row:
            pixels += bytes((blue, green, red))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_lock_picture.py OUTPUT.BMP\n")
        return 2
    with open(argv[1], "wb") as out:
        out.write(bmp_bytes(draw_picture()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
