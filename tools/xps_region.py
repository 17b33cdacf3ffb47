#!/usr/bin/env python3
"""Looks at XPS output as a person would: renders a page with `mutool draw`
and crops or measures a region of it.

    tools/xps_region.py render IN.xps PAGE OUT.png [--dpi 96] [--crop X,Y,W,H]
    tools/xps_region.py diff A.xps B.xps PAGE [--dpi 48] [--tolerance 24]

Lengths on the command line and in what is printed are in 1/96 inch, the
unit of XPS markup, with the origin at the page's upper left corner.
`render` writes the page (or the cropped region) as PNG. `diff` renders the
same page of two packages and prints how many pixels differ by more than the
tolerance in some channel, the box around them and the mean colour of B
there. Also importable: the tests use render_page, crop, differing_pixels.
"""
import argparse
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path


class Image:
    """An RGB raster: width, height and rows of bytes, three per pixel."""

    def __init__(self, width, height, pixels, dpi):
        self.width, self.height, self.pixels, self.dpi = width, height, pixels, dpi

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def to_pixels(self, length):
        """A length in 1/96 inch as pixels of this image."""
        return length * self.dpi / 96.0

    def to_length(self, pixels):
        return pixels * 96.0 / self.dpi


def read_ppm(data, dpi):
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    return Image(width, height, data[pos + 1:pos + 1 + width * height * 3], dpi)


def render_page(package, page, dpi=96, timeout=120):
    """Page `page` (1-based) of an XPS package as an RGB Image."""
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "page.ppm"
        run = subprocess.run(["mutool", "draw", "-q", "-r", str(dpi), "-c", "rgb", "-F", "pnm", "-o", str(out),
                              str(package), str(page)], capture_output=True, text=True, timeout=timeout)
        if run.returncode != 0 or not out.exists():
            raise RuntimeError("mutool cannot render page %d of %s: %s" % (page, package, run.stderr.strip()))
        return read_ppm(out.read_bytes(), dpi)


def crop(image, x, y, width, height):
    """The region (1/96 inch) of image, cut to the image."""
    x0 = max(0, int(image.to_pixels(x)))
    y0 = max(0, int(image.to_pixels(y)))
    x1 = min(image.width, int(round(image.to_pixels(x + width))))
    y1 = min(image.height, int(round(image.to_pixels(y + height))))
    rows = [image.pixels[(row * image.width + x0) * 3:(row * image.width + x1) * 3] for row in range(y0, y1)]
    return Image(max(0, x1 - x0), max(0, y1 - y0), b"".join(rows), image.dpi)


def crop_pixels(image, left, top, width, height):
    """The width x height pixels whose upper left pixel is (left, top); the region must lie in the image."""
    if left < 0 or top < 0 or left + width > image.width or top + height > image.height:
        raise ValueError("the region %d,%d,%d,%d is not inside the %dx%d image"
                         % (left, top, width, height, image.width, image.height))
    stride = image.width * 3
    rows = [image.pixels[row * stride + left * 3:row * stride + (left + width) * 3] for row in range(top, top + height)]
    return Image(width, height, b"".join(rows), image.dpi)


def blank(width, height, dpi, colour=(255, 255, 255)):
    """An image of one colour, white unless told otherwise."""
    return Image(width, height, bytes(colour) * (width * height), dpi)


def count_differing(a, b, tolerance):
    """How many pixels of a and b differ by more than tolerance in a channel.

    Counts what differing_pixels lists, but skips the rows that are alike,
    which makes it the cheaper one for comparing mostly blank regions."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError("the images have different sizes: %dx%d and %dx%d" % (a.width, a.height, b.width, b.height))
    stride, count = a.width * 3, 0
    for row in range(a.height):
        ra = a.pixels[row * stride:(row + 1) * stride]
        rb = b.pixels[row * stride:(row + 1) * stride]
        if ra == rb:
            continue
        for i in range(0, stride, 3):
            if (abs(ra[i] - rb[i]) > tolerance or abs(ra[i + 1] - rb[i + 1]) > tolerance
                    or abs(ra[i + 2] - rb[i + 2]) > tolerance):
                count += 1
    return count


def write_png(image, path):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    stride = image.width * 3
    raw = b"".join(b"\0" + image.pixels[r * stride:(r + 1) * stride] for r in range(image.height))
    Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", image.width, image.height, 8, 2, 0, 0, 0))
                           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def differing_pixels(a, b, tolerance):
    """(x, y) of the pixels where a and b differ by more than tolerance in a channel."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError("the pages have different sizes: %dx%d and %dx%d" % (a.width, a.height, b.width, b.height))
    pa, pb, w = a.pixels, b.pixels, a.width
    found = []
    for i in range(0, len(pa), 3):
        if abs(pa[i] - pb[i]) > tolerance or abs(pa[i + 1] - pb[i + 1]) > tolerance or abs(pa[i + 2] - pb[i + 2]) > tolerance:
            p = i // 3
            found.append((p % w, p // w))
    return found


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    r = sub.add_parser("render", help="render a page (or a region of it) to PNG")
    r.add_argument("package")
    r.add_argument("page", type=int)
    r.add_argument("output")
    r.add_argument("--dpi", type=int, default=96)
    r.add_argument("--crop", help="X,Y,W,H in 1/96 inch")
    d = sub.add_parser("diff", help="where two renderings of a page differ")
    d.add_argument("a")
    d.add_argument("b")
    d.add_argument("page", type=int)
    d.add_argument("--dpi", type=int, default=48)
    d.add_argument("--tolerance", type=int, default=24)
    args = parser.parse_args(argv)

    try:
        if args.command == "render":
            image = render_page(args.package, args.page, args.dpi)
            if args.crop:
                image = crop(image, *(float(v) for v in args.crop.split(",")))
            write_png(image, args.output)
            print("%s: %dx%d pixels" % (args.output, image.width, image.height))
            return 0
        a = render_page(args.a, args.page, args.dpi)
        b = render_page(args.b, args.page, args.dpi)
        found = differing_pixels(a, b, args.tolerance)
        if not found:
            print("the pages are drawn alike")
            return 0
        xs = [x for x, _ in found]
        ys = [y for _, y in found]
        mean = [sum(b.at(x, y)[c] for x, y in found) // len(found) for c in range(3)]
        print("%d pixels differ; box %.2f,%.2f,%.2f,%.2f; mean colour of B there #%02x%02x%02x" % (
            len(found), a.to_length(min(xs)), a.to_length(min(ys)), a.to_length(max(xs) - min(xs) + 1),
            a.to_length(max(ys) - min(ys) + 1), *mean))
        return 1
    except (OSError, RuntimeError, ValueError, subprocess.TimeoutExpired) as e:
        print("xps_region.py: %s" % e, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
