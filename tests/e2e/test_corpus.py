"""Prints every package of the XPS corpus with an empty ticket and checks
that the pipeline hands on the same document: the same pages in the same
order, the same bytes for every part it does not rewrite, and pages that
render like the input (the preprocess filter writes every page anew).
Packages in the OpenXPS vocabulary are refused with a message that names
their namespace."""
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_support as e2e  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
import xps_region  # noqa: E402

# Parts that zntr-print writes anew; every other part must come out unchanged.
REWRITTEN_SUFFIXES = (".rels", ".fdseq", ".fdoc")
UNPACKED = ("migradoc/unpacked/XPS_export_test-xps",)
RENDER_DPI = "48"
OPENXPS = "http://schemas.openxps.org/oxps/v1.0"
# A rendered pixel may differ by this much in any channel (rounding in the
# rewritten transforms shifts anti-aliased edges), and this share of the
# pixels may differ by more.
CHANNEL_TOLERANCE = 40
MAX_DIFFERING_SHARE = 0.002


def is_openxps(parts):
    return any(OPENXPS.encode() in data[:4096].replace(b"\0", b"")
               for name, data in parts.items() if name.lower().endswith(".fpage"))


def differing_share(a, b):
    """The share of the input's pixels drawn differently in the output.

    The output page has the printer's paper size (the ticket is empty), with
    the content at its origin and clipped to the input's size: the common
    area must match and the rest of the output must be blank."""
    first, second = xps_region.read_ppm(a, 0), xps_region.read_ppm(b, 0)
    wa, ha, pa = first.width, first.height, first.pixels
    wb, hb, pb = second.width, second.height, second.pixels
    ca = cb = 3
    differing = 0
    for y in range(max(ha, hb)):
        for x in range(max(wa, wb)):
            if x < wb and y < hb:
                j = (y * wb + x) * cb
                got = pb[j:j + cb]
                if x < wa and y < ha:
                    i = (y * wa + x) * ca
                    want = pa[i:i + ca]
                else:
                    want = b"\xff" * cb
                if any(abs(got[c] - want[c]) > CHANNEL_TOLERANCE for c in range(cb)):
                    differing += 1
    return differing / (wa * ha)


def corpus_packages():
    """(label, path) of each packed package and of each unpacked folder."""
    if not e2e.CORPUS:
        return []
    xps = pathlib.Path(e2e.CORPUS) / "xps"
    found = [(str(p.relative_to(xps)), p) for p in sorted(xps.rglob("*.xps")) if p.is_file()]
    found += [(u + "/", xps / u) for u in UNPACKED if (xps / u).is_dir()]
    return found


def zip_folder(folder, path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for f in sorted(folder.rglob("*")):
            if f.is_file():
                z.write(f, f.relative_to(folder).as_posix())


def digests(parts):
    return {n: hashlib.sha256(data).hexdigest() for n, data in parts.items()}


def render(package, folder):
    """Renders every page to folder/N.pnm; returns the mutool result and the files by page."""
    folder.mkdir()
    result = subprocess.run(["mutool", "draw", "-q", "-r", RENDER_DPI, "-c", "rgb", "-F", "pnm", "-o", str(folder / "%d.pnm"),
                             str(package)], capture_output=True, text=True, timeout=e2e.TIMEOUT)
    return result, {int(f.stem): f.read_bytes() for f in folder.glob("*.pnm")}


class CorpusTest(unittest.TestCase):
    def test_corpus_prints_unchanged(self):
        packages = corpus_packages()
        if not packages:
            self.skipTest("no XPS corpus at %s" % e2e.CORPUS)
        for label, source in packages:
            with self.subTest(package=label), tempfile.TemporaryDirectory() as tmp:
                self.check_package(source, pathlib.Path(tmp))

    def check_package(self, source, tmp):
        if source.is_dir():
            packed = tmp / "input.xps"
            zip_folder(source, packed)
            source = packed
        output = tmp / "output.xps"
        run = e2e.run_zntr_print(source, output)
        beside = {output.name} | ({source.name} if source.parent == tmp else set())
        in_parts, _ = e2e.read_parts(source)
        if is_openxps(in_parts):
            self.assertEqual(run.returncode, 1, run.stderr)
            self.assertIn(OPENXPS, run.stderr)
            self.assertNotIn("\n", run.stderr.strip(), "the message is one line")
            self.assertEqual(set(os.listdir(tmp)), beside - {output.name}, "output left behind")
            return
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(set(os.listdir(tmp)), beside, "stray files beside the output")

        out_parts, out_raw = e2e.read_parts(output)

        with self.subTest(check="pages"):
            self.assertEqual(e2e.PackageView(out_parts).fixed_pages(), e2e.PackageView(in_parts).fixed_pages())

        page_keys = set(e2e.PackageView(in_parts).fixed_pages())
        with self.subTest(check="part bytes"):
            kept = {n: d for n, d in in_parts.items()
                    if n != "[Content_Types].xml" and not n.lower().endswith(REWRITTEN_SUFFIXES)
                    and e2e.part_key(n) not in page_keys}
            out_digests = digests(out_parts)
            self.assertEqual({n: out_digests.get(n) for n in kept}, digests(kept))

        with self.subTest(check="package structure"):
            self.assertEqual([n for n in out_raw if e2e.PIECE.match(n)], [], "interleaved pieces in the output")
            self.assertEqual(len(out_raw), len({e2e.part_key(n) for n in out_raw}), "duplicate part names")
            self.assertIn("[Content_Types].xml", out_parts)
            self.assertEqual(e2e.content_type_gaps(out_parts), [], "parts without a content type")

        with self.subTest(check="rendering"):
            if not shutil.which("mutool"):
                self.skipTest("mutool is not installed")
            drawn_in, pages_in = render(source, tmp / "in")
            if drawn_in.returncode != 0 or not pages_in:
                self.skipTest("mutool cannot render the input: " + drawn_in.stderr.strip())
            drawn_out, pages_out = render(output, tmp / "out")
            self.assertEqual(drawn_out.returncode, 0, drawn_out.stderr)
            self.assertEqual(sorted(pages_out), sorted(pages_in), "rendered page numbers")
            shares = {n: differing_share(pages_in[n], pages_out[n]) for n in sorted(pages_in)}
            self.assertEqual({n: s for n, s in shares.items() if s > MAX_DIFFERING_SHARE}, {}, "pages drawn differently")


if __name__ == "__main__":
    e2e.main(nothing_to_run=lambda: not corpus_packages())
