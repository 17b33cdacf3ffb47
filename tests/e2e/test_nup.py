"""N-up sheets as a person sees them: a real 13-page job printed 4-up and
9-up, in every order and with every border style, rendered sheet by sheet;
each cell must show the page that belongs there (the same page printed
without N-up, scaled into the cell), the cells after the job's last page must
be blank, and the lines between the cells must be drawn as the ticket asks.
The records say one page per sheet, numbered by the sheet's first page."""
import json
import math
import pathlib
import re
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_support as e2e  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
import xps_region  # noqa: E402

XPS = "http://schemas.microsoft.com/xps/2005/06"
PRIVATE = "http://example.invalid/print/2008/03/xps"
FRAMEWORK = "http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework"
KEYWORDS = "http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords"
# 13 A4 portrait pages in 4 FixedDocuments, no tickets of its own. Drawn, its
# pages have four looks: a frame on the left, a frame in the middle and two
# kinds of text pages (pages 1 and 4 look alike, and so on), in an order that
# tells every placement of the cells from every other one.
JOB = "xps/aspose-page/WorkingWithPrintTickets/input2.xps"
JOB_PAGES = 13

SHEET_PART = re.compile(r"^nuppage_[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\.xml$")

# (pages per sheet, order of the cells, border line): every order and every
# border style once, 4-up and 9-up both left to right and in columns from the right.
LAYOUTS = [
    (4, "RightBottom", "Solid"),
    (4, "BottomRight", "Dashed"),
    (4, "LeftBottom", "Dotted"),
    (4, "BottomLeft", "DotDashed"),
    (9, "RightBottom", "None"),
    (9, "BottomLeft", "DashDotDot"),
]
GRID = {4: (2, 2), 9: (3, 3)}  # pages per sheet: (columns, rows) on a portrait sheet of a portrait job

# Where the k-th page of a sheet goes: (row, column) in a grid of columns x rows.
CELL_OF = {
    "RightBottom": lambda k, columns, rows: (k // columns, k % columns),
    "BottomRight": lambda k, columns, rows: (k % rows, k // rows),
    "LeftBottom": lambda k, columns, rows: (k // columns, columns - 1 - k % columns),
    "BottomLeft": lambda k, columns, rows: (k % rows, columns - 1 - k // rows),
}

# Every sheet is rendered so that a cell is this many pixels wide; for A4
# cells that puts every cell corner within 0.03 pixel of a whole pixel
# (95 * height / width = 135.99), and the reference page, rendered at the
# cell's scale, on the same pixel grid: the comparison needs no resampling.
CELL_PIXELS = 95
EDGE = 1  # pixels left out along each cell edge, where the border lines lie
CHANNEL_TOLERANCE = 48
# A cell shows a page when at most this share of its pixels differs from the
# reference; pages that look different differ in far more (checked below).
MATCH_SHARE = 0.01
UNLIKE_SHARE = 0.03

INK = 245  # a boundary pixel darker than this in some channel is a line
DOT_LENGTH = 12.0  # 1/96 inch: a drawn run this long or shorter is a dot, a longer one a dash
# What runs a border line is made of, repeated along the boundary.
BORDER_MOTIF = {"Dashed": ["dash"], "Dotted": ["dot"], "DotDashed": ["dot", "dash"],
                "DashDotDot": ["dash", "dot", "dot"]}


def ticket(pages, order, border):
    return ('<psf:PrintTicket xmlns:psf="%s" xmlns:psk="%s" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
            'xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:ns0000="%s" version="1">'
            '<psf:Feature name="ns0000:JobLayoutType"><psf:Option name="ns0000:Normal"/></psf:Feature>'
            '<psf:Feature name="psk:JobNUpAllDocumentsContiguously"><psf:Option>'
            '<psf:ScoredProperty name="psk:PagesPerSheet"><psf:Value xsi:type="xsd:integer">%d</psf:Value>'
            '</psf:ScoredProperty></psf:Option>'
            '<psf:Feature name="ns0000:PresentationDirectionForPortrait"><psf:Option name="ns0000:%s"/></psf:Feature>'
            '<psf:Feature name="ns0000:BorderLine"><psf:Option name="ns0000:%s"/></psf:Feature>'
            '</psf:Feature></psf:PrintTicket>' % (FRAMEWORK, KEYWORDS, PRIVATE, pages, order, border))


def job_package():
    path = pathlib.Path(e2e.CORPUS or "") / JOB
    return path if e2e.CORPUS and path.is_file() else None


class Geometry:
    """The grid of a sheet in 1/96 inch, from its page record (lengths there in 1/600 inch)."""

    def __init__(self, record, columns, rows):
        unit = 96.0 / record["resolution"]
        self.columns, self.rows = columns, rows
        self.sheet = (record["sheetWidth"] * unit, record["sheetHeight"] * unit)
        self.margin = (record["sheetMarginX"] * unit, record["sheetMarginY"] * unit)
        self.cell = ((self.sheet[0] - 2 * self.margin[0]) / columns, (self.sheet[1] - 2 * self.margin[1]) / rows)
        self.page_margin = (record["pageMarginX"] * unit, record["pageMarginY"] * unit)
        printable = (record["pageWidth"] * unit - 2 * self.page_margin[0],
                     record["pageHeight"] * unit - 2 * self.page_margin[1])
        self.scale = min(self.cell[0] / printable[0], self.cell[1] / printable[1])
        self.scaled = (printable[0] * self.scale, printable[1] * self.scale)  # the page in its cell
        self.dpi = 96.0 * CELL_PIXELS / self.cell[0]

    def pixels(self, length, dpi=None):
        return length * (dpi or self.dpi) / 96.0

    def off_grid(self):
        """How far the cell corners and the reference's corner lie from whole pixels (at most)."""
        lengths = [self.margin[0] + c * self.cell[0] for c in range(self.columns)]
        lengths += [self.margin[1] + r * self.cell[1] for r in range(self.rows)]
        ref = [self.pixels(m, self.dpi * self.scale) for m in self.page_margin]
        return max(abs(p - round(p)) for p in [self.pixels(v) for v in lengths] + ref)

    def cell_box(self, row, column):
        """The pixels the page covers in the cell, without the cell's edges: (left, top, width, height)."""
        x = round(self.pixels(self.margin[0] + column * self.cell[0]))
        y = round(self.pixels(self.margin[1] + row * self.cell[1]))
        width, height = round(self.pixels(self.scaled[0])), round(self.pixels(self.scaled[1]))
        return x + EDGE, y + EDGE, width - 2 * EDGE, height - 2 * EDGE

    def reference_box(self):
        """The same pixels of the page rendered alone at dpi * scale."""
        dpi = self.dpi * self.scale
        width, height = round(self.pixels(self.scaled[0])), round(self.pixels(self.scaled[1]))
        return (round(self.pixels(self.page_margin[0], dpi)) + EDGE, round(self.pixels(self.page_margin[1], dpi)) + EDGE,
                width - 2 * EDGE, height - 2 * EDGE)


def share(a, b):
    return xps_region.count_differing(a, b, CHANNEL_TOLERANCE) / (a.width * a.height)


def runs(profile, dpi):
    """The drawn runs along a boundary as lengths in 1/96 inch; a profile is one ink flag per pixel."""
    found, length = [], 0
    for inked in profile + [False]:
        if inked:
            length += 1
        elif length:
            found.append(length * 96.0 / dpi)
            length = 0
    return found


class NUpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.source = job_package()
        if not cls.source:
            raise unittest.SkipTest("no corpus package %s" % JOB)
        tmp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(tmp.cleanup)
        cls.dir = pathlib.Path(tmp.name)
        cls.plain, cls.plain_records = cls.print_job("plain", None)
        cls.printed = {layout: cls.print_job("%d-%s-%s" % layout, ticket(*layout)) for layout in LAYOUTS}
        cls.rendered, cls.referenced = {}, {}

    @classmethod
    def print_job(cls, name, user_ticket):
        args = []
        if user_ticket:
            (cls.dir / (name + ".xml")).write_text(user_ticket)
            args = ["--ticket", cls.dir / (name + ".xml")]
        out, dump = cls.dir / (name + ".xps"), cls.dir / (name + ".jsonl")
        run = e2e.run_zntr_print(*args, "--dump-records", dump, cls.source, out)
        if (run.returncode, run.stderr) != (0, ""):
            raise AssertionError("zntr-print failed for %s: %d %s" % (name, run.returncode, run.stderr))
        return out, [json.loads(line) for line in dump.read_text().splitlines()]

    def sheets(self, layout):
        """The layout's sheets: [(geometry, rendering)], the renderings made once."""
        if layout not in self.rendered:
            out, records = self.printed[layout]
            columns, rows = GRID[layout[0]]
            geometries = [Geometry(r, columns, rows) for r in records[1:]]
            self.rendered[layout] = [(g, xps_region.render_page(out, n, g.dpi))
                                     for n, g in enumerate(geometries, start=1)]
        return self.rendered[layout]

    def references(self, geometry):
        """Each page of the job printed without N-up, cut to its printable area at the cell's scale."""
        dpi = geometry.dpi * geometry.scale
        if dpi not in self.referenced:
            box = geometry.reference_box()
            self.referenced[dpi] = [xps_region.crop_pixels(xps_region.render_page(self.plain, n, dpi), *box)
                                    for n in range(1, JOB_PAGES + 1)]
        return self.referenced[dpi]

    def test_a_job_without_n_up_keeps_its_pages(self):
        parts, _ = e2e.read_parts(self.plain)
        view = e2e.PackageView(parts)
        pages = view.fixed_pages()
        self.assertEqual(len(pages), JOB_PAGES)
        self.assertFalse([p for p in pages if SHEET_PART.match(p)])
        sequence = [t for typ, t in view.relationships("") if typ in e2e.FIXED_REPRESENTATION][0]
        documents = [e for e in ET.fromstring(view.read(sequence)).iter("{%s}DocumentReference" % XPS)]
        self.assertEqual(len(documents), 1, "the pipeline hands on one FixedDocument")
        records = self.plain_records[1:]
        self.assertEqual([r["pageNumber"] for r in records], list(range(1, JOB_PAGES + 1)))

    def test_one_sheet_and_one_record_for_every_n_pages(self):
        for layout in LAYOUTS:
            n = layout[0]
            with self.subTest(layout=layout):
                out, records = self.printed[layout]
                parts, _ = e2e.read_parts(out)
                view = e2e.PackageView(parts)
                sheets = view.fixed_pages()
                count = math.ceil(JOB_PAGES / n)
                self.assertEqual(len(sheets), count)
                self.assertEqual([s for s in sheets if not SHEET_PART.match(s)], [])
                self.assertEqual(len(set(sheets)), count)
                self.assertEqual(e2e.content_type_gaps(parts), [])
                for key in sheets:
                    page = ET.fromstring(view.read(key))
                    self.assertAlmostEqual(float(page.get("Width")), 793.6, places=2)  # A4 portrait
                    self.assertAlmostEqual(float(page.get("Height")), 1122.24, places=2)
                job, pages = records[0], records[1:]
                self.assertEqual(job["record"], "job")
                self.assertEqual([p["page"] for p in pages], list(range(1, count + 1)))
                self.assertEqual([p["pageNumber"] for p in pages], list(range(1, JOB_PAGES + 1, n)))
                self.assertEqual({(p["sheetWidth"], p["sheetHeight"], p["sheetMarginX"], p["sheetMarginY"])
                                  for p in pages}, {(4960, 7014, 100, 100)})

    def test_each_cell_shows_its_page(self):
        for layout in LAYOUTS:
            n, order, _ = layout
            with self.subTest(layout=layout):
                sheets = self.sheets(layout)
                geometry = sheets[0][0]
                self.assertAlmostEqual(geometry.scale, {4: 1 / 2, 9: 1 / 3}[n], places=6)
                self.assertLess(geometry.off_grid(), 0.1, "the cells do not fall on whole pixels")
                references = self.references(geometry)
                # The document's pages that look different must differ clearly at this size.
                alike = [[share(a, b) <= MATCH_SHARE for b in references] for a in references]
                for i, a in enumerate(references):
                    for j, b in enumerate(references):
                        if not alike[i][j]:
                            self.assertGreater(share(a, b), UNLIKE_SHARE, "pages %d and %d" % (i + 1, j + 1))

                columns, rows = GRID[n]
                shown = {}  # (sheet, row, column): the pages that cell could be showing
                for index, (g, image) in enumerate(sheets):
                    for k in range(n):
                        page = index * n + k
                        if page >= JOB_PAGES:
                            break
                        row, column = CELL_OF[order](k, columns, rows)
                        cell = xps_region.crop_pixels(image, *g.cell_box(row, column))
                        shares = [share(cell, r) for r in references]
                        shown[index, row, column] = {p for p, v in enumerate(shares) if v <= MATCH_SHARE}
                        report = "sheet %d, cell %d,%d: page %d expected; share of pixels off per page: %s" % (
                            index + 1, row, column, page + 1,
                            ", ".join("%d: %.3f" % (p + 1, v) for p, v in enumerate(shares)))
                        self.assertLessEqual(shares[page], MATCH_SHARE, report)
                        # No page that looks different matches the cell as well.
                        self.assertEqual([p + 1 for p, v in enumerate(shares) if v <= MATCH_SHARE and not alike[page][p]],
                                         [], report)
                # On this document, the first sheet drawn in any other order looks different.
                for other in CELL_OF:
                    if other != order:
                        placed = [(CELL_OF[other](k, columns, rows), k) for k in range(min(n, JOB_PAGES))]
                        self.assertFalse(all(k in shown.get((0, *cell), ()) for cell, k in placed),
                                         "the sheets would look the same in the order %s" % other)

    def test_cells_after_the_last_page_are_blank(self):
        for layout in LAYOUTS:
            n, order, _ = layout
            with self.subTest(layout=layout):
                g, image = self.sheets(layout)[-1]
                columns, rows = GRID[n]
                used = JOB_PAGES - (len(self.sheets(layout)) - 1) * n
                self.assertLess(used, n, "the fixture leaves no empty cell")
                for k in range(used, n):
                    row, column = CELL_OF[order](k, columns, rows)
                    cell = xps_region.crop_pixels(image, *g.cell_box(row, column))
                    white = xps_region.blank(cell.width, cell.height, cell.dpi)
                    self.assertEqual(xps_region.count_differing(cell, white, CHANNEL_TOLERANCE), 0,
                                     "cell %d,%d of the last sheet" % (row, column))

    def test_border_lines_between_the_cells(self):
        for layout in LAYOUTS:
            n, _, border = layout
            with self.subTest(layout=layout):
                g, image = self.sheets(layout)[0]
                columns, rows = GRID[n]
                # The cells' corners in pixels; a line is followed along one cell's edge,
                # short of the corners, where the lines cross.
                xs = [round(g.pixels(g.margin[0] + c * g.cell[0])) for c in range(columns + 1)]
                ys = [round(g.pixels(g.margin[1] + r * g.cell[1])) for r in range(rows + 1)]
                boundaries = []  # (which edge, one ink flag per pixel along it)
                for c in range(1, columns):
                    for r in range(rows):
                        boundaries.append(("left edge of cell %d,%d" % (r, c), [
                            min(min(image.at(xs[c] - 1, y)), min(image.at(xs[c], y))) < INK
                            for y in range(ys[r] + 3, ys[r + 1] - 3)]))
                for r in range(1, rows):
                    for c in range(columns):
                        boundaries.append(("top edge of cell %d,%d" % (r, c), [
                            min(min(image.at(x, ys[r] - 1)), min(image.at(x, ys[r]))) < INK
                            for x in range(xs[c] + 3, xs[c + 1] - 3)]))
                for name, profile in boundaries:
                    drawn = runs(profile, g.dpi)
                    if border == "None":
                        self.assertEqual(drawn, [], name)
                    elif border == "Solid":
                        self.assertEqual(len(drawn), 1, name)
                        self.assertEqual(sum(profile), len(profile), name)
                    else:
                        kinds = ["dot" if length <= DOT_LENGTH else "dash" for length in drawn[1:-1]]  # ends cut off
                        motif = BORDER_MOTIF[border]
                        self.assertGreaterEqual(len(kinds), 2 * len(motif), (name, drawn))
                        self.assertTrue(any(all(kind == motif[(i + shift) % len(motif)] for i, kind in enumerate(kinds))
                                            for shift in range(len(motif))), (name, kinds))


if __name__ == "__main__":
    e2e.main(nothing_to_run=lambda: not job_package())
