"""Feeds zntr-print broken packages: each job must fail with exit status 1, one
line on stderr saying what is wrong, and no output file left behind."""
import hashlib
import os
import pathlib
import struct
import sys
import tempfile
import unittest
import zipfile
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_support as e2e  # noqa: E402

XPS = "http://schemas.microsoft.com/xps/2005/06"
RELS = "http://schemas.openxmlformats.org/package/2006/relationships"
PAGE = "Documents/1/Pages/1.fpage"
PAGE_RELS = "Documents/1/Pages/_rels/1.fpage.rels"


def relationships(*rels):
    body = "".join('<Relationship Id="R%d" Type="%s/%s" Target="%s"/>' % (i, XPS, t, target)
                   for i, (t, target) in enumerate(rels))
    return '<Relationships xmlns="%s">%s</Relationships>' % (RELS, body)


def page_content(*sources):
    body = "".join('<PageContent Source="%s"/>' % s for s in sources)
    return '<FixedDocument xmlns="%s">%s</FixedDocument>' % (XPS, body)


def fixed_page(fill="#FF000080"):
    return ('<FixedPage xmlns="%s" Width="96" Height="96" xml:lang="en-US">'
            '<Path Data="M 8,8 L 88,8 88,88 8,88 Z" Fill="%s"/></FixedPage>' % (XPS, fill))


def minimal_parts():
    """A one-page package with an image resource on its page."""
    return {
        "[Content_Types].xml":
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="fdseq" ContentType="application/vnd.ms-package.xps-fixeddocumentsequence+xml"/>'
            '<Default Extension="fdoc" ContentType="application/vnd.ms-package.xps-fixeddocument+xml"/>'
            '<Default Extension="fpage" ContentType="application/vnd.ms-package.xps-fixedpage+xml"/>'
            '<Default Extension="png" ContentType="image/png"/></Types>',
        "_rels/.rels": relationships(("fixedrepresentation", "/FixedDocumentSequence.fdseq")),
        "FixedDocumentSequence.fdseq":
            '<FixedDocumentSequence xmlns="%s"><DocumentReference Source="Documents/1/FixedDocument.fdoc"/>'
            '</FixedDocumentSequence>' % XPS,
        "Documents/1/FixedDocument.fdoc": page_content("Pages/1.fpage"),
        PAGE: fixed_page(),
        PAGE_RELS: relationships(("required-resource", "../../../Resources/dot.png")),
        # Never decoded: the filters hand resources on untouched.
        "Resources/dot.png": b"\x89PNG\r\n\x1a\n",
    }


def package(changes=None):
    """Builds the minimal package with parts replaced or added (name: data) or removed (name: None)."""
    def build(path):
        parts = {**minimal_parts(), **(changes or {})}
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in parts.items():
                if data is not None:
                    z.writestr(name, data)
    return build


def raw(data):
    def build(path):
        path.write_bytes(data)
    return build


def truncated(path):
    package()(path)
    data = path.read_bytes()
    path.write_bytes(data[:len(data) // 2])


def understated(name, data, declared):
    """The minimal package with part name holding data, its ZIP headers claiming declared bytes."""
    def build(path):
        package({name: data})(path)
        zip_bytes = bytearray(path.read_bytes())
        # (signature, offset of the inflated size, of the name length, of the name): local, then central header
        for signature, size_at, length_at, name_at in ((b"PK\x03\x04", 22, 26, 30), (b"PK\x01\x02", 24, 28, 46)):
            at = zip_bytes.find(signature)
            while at >= 0:
                length = struct.unpack_from("<H", zip_bytes, at + length_at)[0]
                if zip_bytes[at + name_at:at + name_at + length] == name.encode():
                    struct.pack_into("<I", zip_bytes, at + size_at, declared)
                at = zip_bytes.find(signature, at + 4)
        path.write_bytes(zip_bytes)
    return build


def damaged(name, data):
    """The minimal package with part name holding data, one byte in the middle of its stored form changed."""
    def build(path):
        package({name: data})(path)
        zip_bytes = bytearray(path.read_bytes())
        at = zip_bytes.find(b"PK\x03\x04")
        while at >= 0:
            length, extra = struct.unpack_from("<HH", zip_bytes, at + 26)
            if zip_bytes[at + 30:at + 30 + length] == name.encode():
                stored = struct.unpack_from("<I", zip_bytes, at + 18)[0]
                zip_bytes[at + 30 + length + extra + stored // 2] ^= 0x01
                break
            at = zip_bytes.find(b"PK\x03\x04", at + 4)
        path.write_bytes(zip_bytes)
    return build


# (label, builder of INPUT, extra arguments, the words the message must contain)
BAD_INPUTS = [
    ("not a ZIP file", raw(b"%PDF-1.7\n" + b"not a package\n" * 64), [], ["not a ZIP package"]),
    ("truncated ZIP", truncated, [], ["ZIP"]),
    ("no FixedDocumentSequence", package({"_rels/.rels": relationships()}), [], ["no FixedDocumentSequence"]),
    ("PageContent names a missing part",
     package({"Documents/1/FixedDocument.fdoc": page_content("Pages/1.fpage", "Pages/2.fpage")}), [],
     ["names a missing part", "2.fpage"]),
    ("required resource names a missing part", package({"Resources/dot.png": None}), [],
     ["names a missing part", "dot.png"]),
    ("entry name climbs out of the root", package({"../evil.fpage": fixed_page()}), [],
     ["escapes the package root", "evil.fpage"]),
    ("entry name climbs out of the root midway", package({"Documents/../../x": b"x"}), [],
     ["escapes the package root"]),
    ("part names differ only in case", package({"Documents/1/pages/1.FPAGE": fixed_page("#FF00FF00")}), [],
     ["duplicate part name", "1.fpage"]),
    ("interleaved part lacks its last piece",
     package({PAGE: None, PAGE + "/[0].piece": fixed_page()[:40], PAGE + "/[1].piece": fixed_page()[40:]}), [],
     ["missing or misplaced pieces"]),
    ("ZIP bomb", package({"Resources/zeros.bin": bytes(20 * 1024 * 1024)}), ["--max-inflated-size", "1000000"],
     ["inflates to more than the limit"]),
    ("resource whose data is damaged", damaged("Resources/dot.png", bytes(range(256)) * 16), [], ["dot.png"]),
    ("document type declaration",
     package({"Documents/1/FixedDocument.fdoc": '<!DOCTYPE x [<!ENTITY e "p">]>' + page_content("Pages/1.fpage")}), [],
     ["document type declaration"]),
    ("resource that is the content types part",
     package({PAGE_RELS: relationships(("required-resource", "/[Content_Types].xml"))}), [], ["not a resource"]),
    ("resource that is the document sequence",
     package({PAGE_RELS: relationships(("required-resource", "/FixedDocumentSequence.fdseq"))}), [], ["not a resource"]),
    ("interleaved piece at the package root", package({"[0].last.piece": b"x"}), [], ["invalid part name"]),
    ("page listed twice", package({"Documents/1/FixedDocument.fdoc": page_content("Pages/1.fpage", "Pages/1.fpage")}), [],
     ["a second time"]),
    ("page with markup that cannot be resolved",
     package({PAGE: fixed_page().replace("<Path", '<mc:AlternateContent xmlns:mc="http://schemas.openxmlformats.org/'
                                                  'markup-compatibility/2006"><mc:Choice/></mc:AlternateContent><Path')}),
     [], ["filter preprocess failed on part /" + PAGE, "a Choice without Requires"]),
    ("page in the OpenXPS vocabulary",
     package({PAGE: fixed_page().replace(XPS, "http://schemas.openxps.org/oxps/v1.0")}), [],
     ["/" + PAGE, "namespace http://schemas.openxps.org/oxps/v1.0"]),
    ("page that is not well-formed", package({PAGE: fixed_page()[:-5]}), [], ["/" + PAGE, "line 1"]),
    ("ZIP bomb whose headers understate its size", understated("Resources/dot.png", bytes(20 * 1024 * 1024), 1000),
     ["--max-inflated-size", "1000000"], ["dot.png"]),
]


class BadInputTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = pathlib.Path(tmp.name)
        self.input = self.dir / "input.xps"
        self.output = self.dir / "output.xps"

    def test_minimal_package_prints(self):
        package()(self.input)
        run = e2e.run_zntr_print(self.input, self.output)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        self.assertEqual(sorted(os.listdir(self.dir)), ["input.xps", "output.xps"])
        parts, _ = e2e.read_parts(self.output)
        self.assertEqual(e2e.PackageView(parts).fixed_pages(), [PAGE.lower()])
        # The page is written anew at the printer's default size, its content clipped to its own.
        self.assertEqual(parts[PAGE], (
            '<FixedPage xmlns="%s" xml:lang="en-US"  Width="793.600000" Height="1122.240000">'
            '<Canvas Clip="M0,0L96.000000,0L96.000000,96.000000L0,96.000000Z">'
            '<Path Data="M 8,8 L 88,8 88,88 8,88 Z" Fill="#FF000080"></Path></Canvas></FixedPage>' % XPS).encode())

    def test_bad_inputs_fail_cleanly(self):
        for label, build, options, words in BAD_INPUTS:
            with self.subTest(label):
                for f in self.dir.iterdir():
                    f.unlink()
                build(self.input)
                run = e2e.run_zntr_print(*options, self.input, self.output)
                self.assertEqual(run.returncode, 1, run.stderr)
                lines = run.stderr.splitlines()
                self.assertEqual(len(lines), 1, run.stderr)
                self.assertTrue(lines[0].startswith("zntr-print: %s: " % self.input), lines[0])
                for word in words:
                    self.assertIn(word.lower(), lines[0].lower())
                self.assertEqual(os.listdir(self.dir), ["input.xps"], "the failed job left files behind")

    def test_unusual_but_valid_markup_survives(self):
        # A prefixed FixedDocument whose PageContent has a foreign attribute and link targets.
        fdoc = ('<x:FixedDocument xmlns:x="%s" xmlns:q="urn:example:q">'
                '<x:PageContent Source="Pages/1.fpage" q:hint="a&amp;b"><x:PageContent.LinkTargets>'
                '<x:LinkTarget Name="top"/></x:PageContent.LinkTargets></x:PageContent></x:FixedDocument>' % XPS)
        package({"Documents/1/FixedDocument.fdoc": fdoc})(self.input)
        (self.dir / "output.xps.partial").write_bytes(b"someone else's file")
        run = e2e.run_zntr_print(self.input, self.output)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        parts, _ = e2e.read_parts(self.output)
        view = e2e.PackageView(parts)
        self.assertEqual(view.fixed_pages(), [PAGE.lower()])
        written = ET.fromstring(parts["Documents/1/FixedDocument.fdoc"])  # well-formed, every prefix bound
        content = written.find("{%s}PageContent" % XPS)
        self.assertEqual(content.get("{urn:example:q}hint"), "a&b")
        self.assertIsNotNone(content.find(".//{%s}LinkTarget" % XPS))
        # A file that merely looks like the job's own temporary one is left alone.
        self.assertEqual((self.dir / "output.xps.partial").read_bytes(), b"someone else's file")
        self.assertEqual(sorted(os.listdir(self.dir)), ["input.xps", "output.xps", "output.xps.partial"])

    def test_output_must_not_be_input(self):
        package()(self.input)
        before = hashlib.sha256(self.input.read_bytes()).digest()
        (self.dir / "sub").mkdir()
        for label, output in [("same name", self.input), ("other spelling", self.dir / "sub" / ".." / "input.xps")]:
            with self.subTest(label):
                run = e2e.run_zntr_print(self.input, output)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertIn("OUTPUT must not be INPUT", run.stderr)
                self.assertEqual(hashlib.sha256(self.input.read_bytes()).digest(), before)
                self.assertEqual(sorted(os.listdir(self.dir)), ["input.xps", "sub"])


if __name__ == "__main__":
    e2e.main()
