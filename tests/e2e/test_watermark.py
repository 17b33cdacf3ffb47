"""Text watermarks as a job's ticket asks for them: on every page or the first
only, named by page and path number (the number goes on when a landscape
page makes the outlines anew), and, drawn on a real page, visible only inside
their turned frame, in their colour at half opacity."""
import pathlib
import re
import sys
import tempfile
import unittest
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_support as e2e  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
import xps_region  # noqa: E402

XPS = "http://schemas.microsoft.com/xps/2005/06"
PRIVATE = "http://example.invalid/print/2008/03/xps"
FRAMEWORK = "http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework"
KEYWORDS = "http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords"
REAL_PAGE = "xps/aspose-page/WorkingWithPrintTickets/input2.xps"  # no tickets of its own


def ticket(body):
    return ('<psf:PrintTicket xmlns:psf="%s" xmlns:psk="%s" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
            'xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:ns0000="%s" version="1">%s</psf:PrintTicket>'
            % (FRAMEWORK, KEYWORDS, PRIVATE, body))


def feature(name, option, inner="", subs=""):
    return ('<psf:Feature name="%s"><psf:Option name="%s">%s</psf:Option>%s</psf:Feature>' % (name, option, inner, subs))


def prop(name, value, kind="xsd:integer"):
    return ('<psf:ScoredProperty name="%s"><psf:Value xsi:type="%s">%s</psf:Value></psf:ScoredProperty>'
            % (name, kind, value))


def watermark(text="CONFIDENTIAL", size=72, angle=45, colour="#FFC00000", trim="DoubleFrame", position="Center",
              first_page_only="Off"):
    inner = (prop("ns0000:Text", text, "xsd:string") + prop("ns0000:FontSize", size) + prop("ns0000:Angle", angle)
             + prop("ns0000:FontColor", colour, "xsd:string") + prop("ns0000:FontName", "Arial", "xsd:string")
             + prop("ns0000:FontWeight", 700) + prop("ns0000:FontItalic", 0) + prop("ns0000:FontCharSet", 0))
    subs = (feature("ns0000:PageWatermarkTrim", "ns0000:" + trim)
            + feature("ns0000:PageWatermarkPosition", "ns0000:" + position)
            + feature("ns0000:PageWatermarkFirstPageOnly", "ns0000:" + first_page_only)
            + feature("ns0000:PageWatermarkAdjustment", "ns0000:Off"))
    return feature("ns0000:PageWatermark", "ns0000:Text", inner, subs)


def three_pages(path):
    """Three A4 pages; the third has a page ticket that turns it to landscape."""
    rels = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">%s</Relationships>'
    rel = '<Relationship Id="R%d" Type="%s/%s" Target="%s"/>'
    page = ('<FixedPage xmlns="%s" Width="793.6" Height="1122.24"><Path Data="M 96,96 L 200,96 200,200 Z" '
            'Fill="#FF000000"/></FixedPage>' % XPS)
    parts = {
        "[Content_Types].xml":
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="fdseq" ContentType="application/vnd.ms-package.xps-fixeddocumentsequence+xml"/>'
            '<Default Extension="fdoc" ContentType="application/vnd.ms-package.xps-fixeddocument+xml"/>'
            '<Default Extension="fpage" ContentType="application/vnd.ms-package.xps-fixedpage+xml"/>'
            '<Default Extension="xml" ContentType="application/vnd.ms-printing.printticket+xml"/></Types>',
        "_rels/.rels": rels % (rel % (0, XPS, "fixedrepresentation", "/FixedDocumentSequence.fdseq")),
        "FixedDocumentSequence.fdseq": '<FixedDocumentSequence xmlns="%s"><DocumentReference Source="/d.fdoc"/>'
                                       '</FixedDocumentSequence>' % XPS,
        "d.fdoc": '<FixedDocument xmlns="%s">%s</FixedDocument>'
                  % (XPS, "".join('<PageContent Source="/p%d.fpage"/>' % n for n in (1, 2, 3))),
        "p1.fpage": page, "p2.fpage": page, "p3.fpage": page,
        "_rels/p3.fpage.rels": rels % (rel % (0, XPS, "printticket", "/landscape.xml")),
        "landscape.xml": ticket(feature("psk:PageOrientation", "psk:Landscape")),
    }
    with zipfile.ZipFile(path, "w") as z:
        for name, data in parts.items():
            z.writestr(name, data)


PATH_NAME = re.compile(r'Name="halvane_watermark(\d+)_(\d+)"')


def watermark_names(package, page):
    with zipfile.ZipFile(package) as z:
        return [(int(p), int(n)) for p, n in PATH_NAME.findall(z.read(page).decode())]


class WatermarkTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = pathlib.Path(tmp.name)

    def print_with(self, source, body, name):
        user = self.dir / (name + "-ticket.xml")
        user.write_text(ticket(body))
        out = self.dir / (name + ".xps")
        run = e2e.run_zntr_print("--ticket", user, source, out)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        return out

    def test_names_by_page_and_a_counter_for_the_job(self):
        source = self.dir / "three.xps"
        three_pages(source)
        # "AB" with a single frame: two glyph paths and one frame path.
        every = self.print_with(source, watermark(text="AB", trim="SingleFrame"), "every")
        self.assertEqual(watermark_names(every, "p1.fpage"), [(0, 0), (0, 1), (0, 2)])
        self.assertEqual(watermark_names(every, "p2.fpage"), [(1, 0), (1, 1), (1, 2)])
        # The landscape page has its outlines made anew; the numbers go on.
        self.assertEqual(watermark_names(every, "p3.fpage"), [(2, 3), (2, 4), (2, 5)])

        first = self.print_with(source, watermark(text="AB", trim="SingleFrame", first_page_only="On"), "first")
        self.assertEqual(watermark_names(first, "p1.fpage"), [(0, 0), (0, 1), (0, 2)])
        self.assertEqual(watermark_names(first, "p2.fpage"), [])
        self.assertEqual(watermark_names(first, "p3.fpage"), [])

        # Without a text there is no watermark, and the job goes on.
        none = self.print_with(source, watermark(text=""), "none")
        self.assertEqual(watermark_names(none, "p1.fpage"), [])

    def test_drawn_on_a_real_page_inside_its_frame(self):
        if not e2e.CORPUS or not (pathlib.Path(e2e.CORPUS) / REAL_PAGE).is_file():
            self.skipTest("no corpus package %s" % REAL_PAGE)
        source = pathlib.Path(e2e.CORPUS) / REAL_PAGE
        plain = self.print_with(source, "", "plain")
        marked = self.print_with(source, watermark(), "marked")

        # The frame as the page says: the outer rectangle, turned about its centre.
        with zipfile.ZipFile(marked) as z:
            markup = z.read("Documents/1/Pages/1.fpage").decode()
        frame = re.search(r'StrokeLineJoin="Round" RenderTransform="([^"]+)" Data="M([-\d.]+),([-\d.]+)L', markup)
        self.assertIsNotNone(frame, "no frame path")
        m11, m12, m21, m22, cx, cy = map(float, frame.group(1).split(","))
        hx, hy = -float(frame.group(2)), -float(frame.group(3))
        self.assertAlmostEqual(cx, 396.8, places=3)  # the centre of portrait A4
        self.assertAlmostEqual(cy, 561.12, places=3)
        self.assertAlmostEqual(m11, 0.7071, places=4)

        dpi = 48
        a = xps_region.render_page(plain, 1, dpi)
        b = xps_region.render_page(marked, 1, dpi)
        found = xps_region.differing_pixels(a, b, 24)
        self.assertGreater(len(found), 500, "the watermark is not visible")

        # Every differing pixel lies inside the frame (and its stroke), turned
        # the way the markup turns it: point = centre + (x, y) * matrix.
        slack = 6.0  # the stroke and the anti-aliased edge, in 1/96 inch
        outside = []
        for x, y in found:
            px, py = a.to_length(x + 0.5) - cx, a.to_length(y + 0.5) - cy
            # The inverse of the (orthonormal) turn.
            det = m11 * m22 - m12 * m21
            u = (px * m22 - py * m21) / det
            v = (py * m11 - px * m12) / det
            if abs(u) > hx + slack or abs(v) > hy + slack:
                outside.append((x, y))
        self.assertEqual(outside[:10], [], "pixels changed outside the watermark's frame")

        # Where the text covers the page fully, the colour is #C00000 at half
        # opacity over what was there.
        red = (0xC0, 0x00, 0x00)
        blended = 0
        for x, y in found:
            under, over = a.at(x, y), b.at(x, y)
            want = [0.5 * red[c] + 0.5 * under[c] for c in range(3)]
            if all(abs(over[c] - want[c]) <= 12 for c in range(3)):
                blended += 1
        self.assertGreater(blended / len(found), 0.5,
                           "most changed pixels should be the watermark colour at half opacity")
        # Nothing stronger than the blend: no pixel is redder than full coverage gives.
        self.assertTrue(all(b.at(x, y)[1] >= 0.5 * a.at(x, y)[1] - 12 for x, y in found))


if __name__ == "__main__":
    e2e.main()
