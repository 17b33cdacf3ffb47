#!/usr/bin/env python3
"""Writes a synthetic N-page XPS package for the print-path benchmark.

usage: gen_xps.py N OUT.xps [--seed S]

Every page is a US-letter FixedPage with a few hundred small glyph-like
outlines (Path elements with a solid black fill, laid out in lines of
"words") and one 256x256 RGB PNG of its own, painted through an ImageBrush
and declared as a required resource in the page's relationships.

The output depends only on N and the seed: the same arguments give the same
bytes (fixed ZIP timestamps, a seeded random generator, printf-style number
formatting, which never follows the locale).
"""

import random
import struct
import sys
import zipfile
import zlib

XPS_NS = "http://schemas.microsoft.com/xps/2005/06"
RELS_NS = "http://schemas.openxmlformats.org/package/2006/relationships"
TYPES_NS = "http://schemas.openxmlformats.org/package/2006/content-types"
REL_FIXEDREP = "http://schemas.microsoft.com/xps/2005/06/fixedrepresentation"
REL_REQUIRED = "http://schemas.microsoft.com/xps/2005/06/required-resource"

PAGE_W = 816  # 8.5 in at 96 units per inch
PAGE_H = 1056  # 11 in
IMG_SIZE = 256
GLYPHS_PER_PAGE = 400

ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def pt(x, y):
    """One point of path data, two decimals, classic-locale ("12.50,30.07")."""
    return "%.2f,%.2f" % (x, y)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def make_png(page, rng):
    """A 256x256 8-bit RGB image: a diagonal colour ramp with a few bands and
    blocks, different for every page. Rows are built from slices of one wide
    ramp so that the generator stays fast at thousands of pages."""
    n = IMG_SIZE
    r0, g0, b0 = rng.randrange(256), rng.randrange(256), rng.randrange(256)
    # One row-and-a-half wide ramp; row y starts y pixels further in.
    wide = bytearray()
    for x in range(2 * n):
        wide += bytes(((r0 + x) & 0xFF, (g0 + 2 * x) & 0xFF, (b0 + 3 * x + page) & 0xFF))
    rows = [bytearray(wide[3 * y: 3 * (y + n)]) for y in range(n)]
    # A few solid blocks so that the picture is not only a ramp.
    for _ in range(4):
        x0, y0 = rng.randrange(n - 32), rng.randrange(n - 32)
        w, h = rng.randrange(16, 64), rng.randrange(16, 64)
        colour = bytes((rng.randrange(256), rng.randrange(256), rng.randrange(256)))
        x1, y1 = min(n, x0 + w), min(n, y0 + h)
        run = colour * (x1 - x0)
        for y in range(y0, y1):
            rows[y][3 * x0: 3 * x1] = run
    raw = b"".join(b"\x00" + bytes(r) for r in rows)  # filter type 0 on every row
    ihdr = struct.pack(">IIBBBBB", n, n, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
            + png_chunk(b"IDAT", zlib.compress(raw, 6)) + png_chunk(b"IEND", b""))


def glyph(rng, x, y, w, h):
    """Path data for one glyph-like outline in the box (x, y-h)..(x+w, y):
    a closed outer contour of lines and curves, sometimes with a counter."""
    pts = []
    k = rng.randrange(4, 8)
    for i in range(k):
        px = x + w * (0.1 + 0.8 * rng.random())
        py = y - h * (i + rng.random()) / k
        pts.append((px, py))
    pts.sort(key=lambda p: p[1])
    left = [(x + w * 0.1 * rng.random(), p[1]) for p in pts]
    d = ["M", pt(*pts[0])]
    for i, (px, py) in enumerate(pts[1:], 1):
        if i % 2:
            d += ["Q", pt(px + w * 0.2, (py + pts[i - 1][1]) / 2), pt(px, py)]
        else:
            d += ["L", pt(px, py)]
    d.append("L")
    d += [pt(x + w * 0.1 * rng.random(), py) for _, py in reversed(pts)]
    d.append("Z")
    if rng.random() < 0.4:  # a counter, as in "o", "e", "a"
        cx, cy = x + w / 2, y - h / 3
        r = min(w, h) / 5
        d += ["M", pt(cx - r, cy),
              "C", pt(cx - r, cy - r), pt(cx + r, cy - r), pt(cx + r, cy),
              "C", pt(cx + r, cy + r), pt(cx - r, cy + r), pt(cx - r, cy),
              "Z"]
    return " ".join(d)


def make_page(page, rng, image_uri):
    out = ['<FixedPage xmlns="%s" Width="%d" Height="%d" xml:lang="en-US">' % (XPS_NS, PAGE_W, PAGE_H)]
    # The picture sits top right; text runs in lines down the page.
    ix, iy, isz = 520, 72, 224
    out.append('<Path Data="M %d,%d L %d,%d %d,%d %d,%d Z">' % (ix, iy, ix + isz, iy, ix + isz, iy + isz, ix, iy + isz))
    out.append('<Path.Fill><ImageBrush ImageSource="%s" Viewbox="0,0,%d,%d" ViewboxUnits="Absolute" '
               'Viewport="%d,%d,%d,%d" ViewportUnits="Absolute"/></Path.Fill></Path>'
               % (image_uri, IMG_SIZE, IMG_SIZE, ix, iy, isz, isz))
    margin, line_h = 72.0, 18.0
    x, y = margin, margin + 12.0
    lines_left = rng.randrange(3, 7)  # lines to the end of this paragraph
    right = float(PAGE_W) - margin
    placed = 0
    while placed < GLYPHS_PER_PAGE:
        # Lines beside the picture stop short of it.
        limit = ix - 16.0 if y < iy + isz + 12 else right
        w = 5.0 + 4.0 * rng.random()
        h = 7.0 + 3.0 * rng.random()
        if x + w > limit:
            x = margin
            y += line_h
            lines_left -= 1
            if lines_left == 0:
                y += 2 * line_h
                lines_left = rng.randrange(3, 7)
            if y > PAGE_H - margin:
                break
            continue
        out.append('<Path Data="%s" Fill="#FF000000"/>' % glyph(rng, x, y, w, h))
        placed += 1
        x += w + 1.0
        if rng.random() < 0.18:  # word gap
            x += 4.0
    out.append("</FixedPage>")
    return "\n".join(out).encode("utf-8")


def xml_head():
    return '<?xml version="1.0" encoding="UTF-8"?>\n'


def add(z, name, data, compress=True):
    info = zipfile.ZipInfo(name, date_time=ZIP_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
    info.external_attr = 0o644 << 16
    info.create_system = 3
    if isinstance(data, str):
        data = data.encode("utf-8")
    z.writestr(info, data, compress_type=info.compress_type, compresslevel=6 if compress else None)


def generate(n, path, seed):
    rng = random.Random(seed)
    with zipfile.ZipFile(path, "w", allowZip64=True) as z:
        add(z, "[Content_Types].xml", xml_head() + (
            '<Types xmlns="%s">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="fdseq" ContentType="application/vnd.ms-package.xps-fixeddocumentsequence+xml"/>'
            '<Default Extension="fdoc" ContentType="application/vnd.ms-package.xps-fixeddocument+xml"/>'
            '<Default Extension="fpage" ContentType="application/vnd.ms-package.xps-fixedpage+xml"/>'
            '<Default Extension="png" ContentType="image/png"/>'
            '</Types>' % TYPES_NS))
        add(z, "_rels/.rels", xml_head() + (
            '<Relationships xmlns="%s">'
            '<Relationship Id="R0" Type="%s" Target="/FixedDocumentSequence.fdseq"/>'
            '</Relationships>' % (RELS_NS, REL_FIXEDREP)))
        add(z, "FixedDocumentSequence.fdseq", xml_head() + (
            '<FixedDocumentSequence xmlns="%s">'
            '<DocumentReference Source="/Documents/1/FixedDocument.fdoc"/>'
            '</FixedDocumentSequence>' % XPS_NS))
        doc = [xml_head(), '<FixedDocument xmlns="%s">\n' % XPS_NS]
        for p in range(1, n + 1):
            doc.append('<PageContent Source="Pages/%d.fpage" Width="%d" Height="%d"/>\n' % (p, PAGE_W, PAGE_H))
        doc.append("</FixedDocument>")
        add(z, "Documents/1/FixedDocument.fdoc", "".join(doc))
        for p in range(1, n + 1):
            image = "/Documents/1/Resources/Images/%d.png" % p
            add(z, "Documents/1/Pages/%d.fpage" % p, make_page(p, rng, image))
            add(z, "Documents/1/Pages/_rels/%d.fpage.rels" % p, xml_head() + (
                '<Relationships xmlns="%s">'
                '<Relationship Id="R1" Type="%s" Target="%s"/>'
                '</Relationships>' % (RELS_NS, REL_REQUIRED, image)))
            # PNG data is deflated already: store it.
            add(z, image.lstrip("/"), make_png(p, rng), compress=False)


def main(argv):
    args = argv[1:]
    seed = 20050601
    if "--seed" in args:
        i = args.index("--seed")
        if i + 1 >= len(args):
            sys.exit("gen_xps.py: --seed needs a number")
        seed = int(args[i + 1])
        del args[i:i + 2]
    if len(args) != 2:
        sys.exit("usage: gen_xps.py N OUT.xps [--seed S]")
    try:
        n = int(args[0])
    except ValueError:
        sys.exit("gen_xps.py: N must be a whole number")
    if n < 1:
        sys.exit("gen_xps.py: N must be at least 1")
    generate(n, args[1], seed)


if __name__ == "__main__":
    main(sys.argv)
