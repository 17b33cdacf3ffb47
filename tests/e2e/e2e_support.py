"""Helpers shared by the end-to-end tests of zntr-print.

Each test script is run as
    python3 test_x.py --zntr-print PATH [--corpus DIR] [unittest options]
and exits 77 when it found nothing to run (ctest reports that as skipped).
"""
import argparse
import posixpath
import re
import subprocess
import sys
import unittest
import urllib.parse
import xml.etree.ElementTree as ET
import zipfile

SKIP_RETURN_CODE = 77
TIMEOUT = 60  # seconds; a hanging job fails instead of blocking the run

ZNTR_PRINT = None
CORPUS = None

PIECE = re.compile(r"^(.*)/\[([0-9]+)\](\.last)?\.piece$", re.IGNORECASE)
REL_NS = "{http://schemas.openxmlformats.org/package/2006/relationships}"
CT_NS = "{http://schemas.openxmlformats.org/package/2006/content-types}"
FIXED_REPRESENTATION = (
    "http://schemas.microsoft.com/xps/2005/06/fixedrepresentation",
    "http://schemas.openxps.org/oxps/v1.0/fixedrepresentation",
)


def run_zntr_print(*args):
    return subprocess.run([ZNTR_PRINT, *map(str, args)], capture_output=True, text=True, timeout=TIMEOUT)


def read_parts(path):
    """Returns ({part name: bytes}, [raw entry names]); interleaved pieces are joined."""
    with zipfile.ZipFile(path) as z:
        raw = [i.filename for i in z.infolist() if not i.filename.endswith("/")]
        parts, pieces = {}, {}
        for name in raw:
            m = PIECE.match(name)
            if m:
                pieces.setdefault(m.group(1), []).append((int(m.group(2)), z.read(name)))
            else:
                parts[name] = z.read(name)
        for name, chunks in pieces.items():
            parts[name] = b"".join(data for _, data in sorted(chunks))
    return parts, raw


def part_key(name):
    """Part names compare case-insensitively, after percent-decoding, without the leading slash."""
    return urllib.parse.unquote(name).lstrip("/").lower()


def resolve(source_part, uri):
    target = uri.split("#", 1)[0]
    if not target.startswith("/"):
        target = posixpath.dirname("/" + source_part.lstrip("/")) + "/" + target
    return part_key(posixpath.normpath(urllib.parse.unquote(target)))


class PackageView:
    """Looks parts up the way a consumer does: case-insensitively."""

    def __init__(self, parts):
        self.parts = {part_key(n): data for n, data in parts.items()}

    def read(self, key):
        if key not in self.parts:
            raise AssertionError("the package has no part /" + key)
        return self.parts[key]

    def relationships(self, source_key):
        folder, leaf = posixpath.split(source_key)
        rels = posixpath.join(folder, "_rels", leaf + ".rels")
        if rels not in self.parts:
            return []
        return [(r.get("Type"), resolve(source_key, r.get("Target")))
                for r in ET.fromstring(self.parts[rels]).iter(REL_NS + "Relationship")
                if r.get("TargetMode") != "External"]

    def fixed_pages(self):
        """The FixedPage part keys in reading order: sequence, then documents, then pages."""
        sequences = [t for typ, t in self.relationships("") if typ in FIXED_REPRESENTATION]
        if not sequences:
            raise AssertionError("the package has no fixedrepresentation relationship")
        pages = []
        for doc in self._sources(sequences[0], "DocumentReference"):
            for page in self._sources(doc, "PageContent"):
                self.read(page)  # the page must exist
                pages.append(page)
        return pages

    def _sources(self, key, element):
        root = ET.fromstring(self.read(key))
        return [resolve(key, e.get("Source")) for e in root.iter() if e.tag.rsplit("}", 1)[-1] == element]


def extension(name):
    leaf = name.rsplit("/", 1)[-1]
    return leaf.rsplit(".", 1)[1].lower() if "." in leaf else ""


def content_type_gaps(parts):
    """Names of the parts that [Content_Types].xml gives no type."""
    types = ET.fromstring(parts["[Content_Types].xml"])
    defaults = {d.get("Extension").lower() for d in types.iter(CT_NS + "Default")}
    overrides = {part_key(o.get("PartName")) for o in types.iter(CT_NS + "Override")}
    return sorted(n for n in parts if n != "[Content_Types].xml" and part_key(n) not in overrides
                  and extension(n) not in defaults)


def main(nothing_to_run=lambda: False):
    global ZNTR_PRINT, CORPUS
    parser = argparse.ArgumentParser()
    parser.add_argument("--zntr-print", required=True)
    parser.add_argument("--corpus")
    args, rest = parser.parse_known_args()
    ZNTR_PRINT, CORPUS = args.zntr_print, args.corpus
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
    ok = program.result.wasSuccessful()
    sys.exit(SKIP_RETURN_CODE if ok and nothing_to_run() else 0 if ok else 1)
