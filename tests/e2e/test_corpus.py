"""Prints every package of the XPS corpus and checks that the pass-through
pipeline hands on the same document: the same pages in the same order, the
same bytes for every part it does not rewrite, and the same rendering."""
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

# Parts that zntr-print writes anew; every other part must come out unchanged.
REWRITTEN_SUFFIXES = (".rels", ".fdseq", ".fdoc")
UNPACKED = ("migradoc/unpacked/XPS_export_test-xps",)
RENDER_DPI = "48"


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
    result = subprocess.run(["mutool", "draw", "-q", "-r", RENDER_DPI, "-F", "pnm", "-o", str(folder / "%d.pnm"),
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
        self.assertEqual(run.returncode, 0, run.stderr)
        beside = {output.name} | ({source.name} if source.parent == tmp else set())
        self.assertEqual(set(os.listdir(tmp)), beside, "stray files beside the output")

        in_parts, _ = e2e.read_parts(source)
        out_parts, out_raw = e2e.read_parts(output)

        with self.subTest(check="pages"):
            self.assertEqual(e2e.PackageView(out_parts).fixed_pages(), e2e.PackageView(in_parts).fixed_pages())

        with self.subTest(check="part bytes"):
            kept = {n: d for n, d in in_parts.items()
                    if n != "[Content_Types].xml" and not n.lower().endswith(REWRITTEN_SUFFIXES)}
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
            self.assertEqual([n for n in sorted(pages_in) if pages_in[n] != pages_out[n]], [], "pages drawn differently")


if __name__ == "__main__":
    e2e.main(nothing_to_run=lambda: not corpus_packages())
