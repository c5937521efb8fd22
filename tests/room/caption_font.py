"""A small "Marlett" TrueType font for the room's Wine prefixes.

Wine draws the caption buttons of every window with the glyphs '0' (minimise), '1' (maximise),
'2' (restore), 'r' (close) and 's' (help) of a symbol font named Marlett. Debian's Wine as the
set-up installs it (without its recommended package fonts-wine) has no font files of its own,
so without this font the title bars of the room's screenshots show the letters "0 1 r". The glyphs are drawn
here on a 16 x 16 grid as straight-edged outlines, in the look of the classic Windows buttons.
"""

import struct

FAMILY = "Marlett"
UNITS_PER_EM = 1024
CELL = UNITS_PER_EM // 16  # one pixel of the 16 x 16 design grid
SYMBOL_PAGE = 0xF000  # a symbol font maps its characters to U+F020..U+F0FF


def _rectangle(left, bottom, right, top):
    """One clockwise contour in grid pixels."""
    return [(left, bottom), (left, top), (right, top), (right, bottom)]


def _stroke(x0, y0, x1, y1, half):
    """A diagonal bar of the close cross, 2 * half pixels wide measured across x."""
    if (x1 - x0) * (y1 - y0) > 0:
        return [(x0 - half, y0), (x1 - half, y1), (x1 + half, y1), (x0 + half, y0)]
    return [(x0 - half, y0), (x0 + half, y0), (x1 + half, y1), (x1 - half, y1)]


GLYPHS = {
    "0": [_rectangle(4, 3, 11, 5)],
    "1": [_rectangle(3, 3, 4, 13), _rectangle(3, 11, 13, 13), _rectangle(12, 3, 13, 13),
          _rectangle(3, 3, 13, 4)],
    # The window behind shows only where the front one does not cover it.
    "2": [_rectangle(6, 12, 13, 14), _rectangle(12, 7, 13, 14), _rectangle(6, 10, 7, 12),
          _rectangle(11, 7, 13, 8),
          _rectangle(3, 3, 4, 10), _rectangle(3, 8, 10, 10), _rectangle(9, 3, 10, 10),
          _rectangle(3, 3, 10, 4)],
    "r": [_stroke(3, 13, 13, 3, 1.25), _stroke(3, 3, 13, 13, 1.25)],
    "s": [_rectangle(5, 11, 11, 13), _rectangle(9, 8, 11, 13), _rectangle(7, 7, 9, 9),
          _rectangle(7, 3, 9, 5), _rectangle(4, 10, 6, 12)],
}


def _glyph(contours):
    """The glyf entry of one glyph, padded to 4 bytes, with its bounding box and point count."""
    points = [(round(x * CELL), round(y * CELL)) for contour in contours for x, y in contour]
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    ends, count = [], 0
    for contour in contours:
        count += len(contour)
        ends.append(count - 1)
    data = struct.pack(">hhhhh", len(contours), min(xs), min(ys), max(xs), max(ys))
    data += struct.pack(f">{len(ends)}H", *ends) + struct.pack(">H", 0)
    data += bytes([1]) * len(points)  # on the curve; coordinates as 16-bit deltas
    previous = (0, 0)
    deltas_x, deltas_y = [], []
    for x, y in points:
        deltas_x.append(x - previous[0])
        deltas_y.append(y - previous[1])
        previous = (x, y)
    data += struct.pack(f">{len(points)}h", *deltas_x) + struct.pack(f">{len(points)}h", *deltas_y)
    return data + bytes(-len(data) % 4), (min(xs), min(ys), max(xs), max(ys)), len(points)


def _cmap(codes):
    """Format 4, each character a segment of its own, in the plain and the symbol page."""
    segments = sorted([(code, glyph) for code, glyph in codes] +
                      [(SYMBOL_PAGE + code, glyph) for code, glyph in codes]) + [(0xFFFF, 0)]
    count = len(segments)
    search = 2 ** (count.bit_length() - 1)
    ends = [code for code, _ in segments]
    deltas = [(glyph - code) % 0x10000 if code != 0xFFFF else 1 for code, glyph in segments]
    body = struct.pack(f">{count}H", *ends) + struct.pack(">H", 0)
    body += struct.pack(f">{count}H", *ends)
    body += struct.pack(f">{count}H", *deltas) + struct.pack(f">{count}H", *([0] * count))
    table = struct.pack(">HHHHHHH", 4, 14 + len(body), 0, count * 2, search * 2,
                        search.bit_length() - 1, count * 2 - search * 2) + body
    return struct.pack(">HHHHI", 0, 1, 3, 0, 12) + table


def _name():
    names = {1: FAMILY, 2: "Regular", 3: f"{FAMILY} Regular (room)", 4: FAMILY, 6: FAMILY}
    records, strings = [], b""
    for encoding in (0, 1):  # symbol fonts name themselves under encoding 0; some readers want 1
        for name_id, text in names.items():
            encoded = text.encode("utf-16-be")
            records.append(struct.pack(">HHHHHH", 3, encoding, 0x409, name_id, len(encoded),
                                       len(strings)))
            strings += encoded
    header = struct.pack(">HHH", 0, len(records), 6 + 12 * len(records))
    return header + b"".join(records) + strings


def _checksum(data):
    data += bytes(-len(data) % 4)
    return sum(struct.unpack(f">{len(data) // 4}I", data)) & 0xFFFFFFFF


def marlett_ttf():
    """The bytes of the font file."""
    order = sorted(GLYPHS)
    built = [_glyph(GLYPHS[char]) for char in order]
    glyf = b"".join(data for data, _, _ in built)
    offsets = [0, 0]  # glyph 0, .notdef, is empty
    for data, _, _ in built:
        offsets.append(offsets[-1] + len(data))
    glyphs = len(order) + 1
    boxes = [box for _, box, _ in built]
    box = (min(b[0] for b in boxes), min(b[1] for b in boxes), max(b[2] for b in boxes),
           max(b[3] for b in boxes))
    codes = [(ord(char), index + 1) for index, char in enumerate(order)]
    first, last = SYMBOL_PAGE + min(c for c, _ in codes), SYMBOL_PAGE + max(c for c, _ in codes)

    tables = {
        b"cmap": _cmap(codes),
        b"glyf": glyf,
        b"head": struct.pack(">IIIIHHqqhhhhHHhhh", 0x00010000, 0x00010000, 0, 0x5F0F3CF5,
                             0x000B, UNITS_PER_EM, 0, 0, *box, 0, 8, 2, 1, 0),
        b"hhea": struct.pack(">IhhhHhhhhhh4hhH", 0x00010000, UNITS_PER_EM, 0, 0, UNITS_PER_EM,
                             0, 0, box[2], 1, 0, 0, 0, 0, 0, 0, 0, glyphs),
        b"hmtx": struct.pack(">hh", UNITS_PER_EM, 0) + b"".join(
            struct.pack(">Hh", UNITS_PER_EM, b[0]) for b in boxes),
        b"loca": struct.pack(f">{len(offsets)}I", *offsets),
        b"maxp": struct.pack(">IHHHHHHHHHHHHHH", 0x00010000, glyphs,
                             max(p for _, _, p in built),
                             max(len(GLYPHS[c]) for c in order), 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
                             0),
        b"name": _name(),
        # Version 1; panose family 5 (pictorial); code page bit 31: the symbol character set.
        b"OS/2": struct.pack(">HhHHHhhhhhhhhhhh10B4I4sHHHhhhHHII", 1, UNITS_PER_EM, 400, 5, 0,
                             0, 0, 0, 0, 0, 0, 0, 0, 50, 300, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             0, 0, 0, 0, b"VRLK", 0x0040, first, last, UNITS_PER_EM, 0, 0,
                             UNITS_PER_EM, 0, 0x80000000, 0),
        b"post": struct.pack(">IIhhIIIII", 0x00030000, 0, -100, 50, 0, 0, 0, 0, 0),
    }
    tags = sorted(tables)
    search = 2 ** (len(tags).bit_length() - 1)
    font = struct.pack(">IHHHH", 0x00010000, len(tags), search * 16, search.bit_length() - 1,
                       len(tags) * 16 - search * 16)
    offset = len(font) + 16 * len(tags)
    directory, body = b"", b""
    for tag in tags:
        data = tables[tag]
        if tag == b"head":
            head = offset + len(body)
        directory += struct.pack(">4sIII", tag, _checksum(data), offset + len(body), len(data))
        body += data + bytes(-len(data) % 4)
    font += directory + body
    # The whole file sums to this constant once the adjustment is in place.
    adjustment = (0xB1B0AFBA - _checksum(font)) & 0xFFFFFFFF
    return font[:head + 8] + struct.pack(">I", adjustment) + font[head + 12:]
