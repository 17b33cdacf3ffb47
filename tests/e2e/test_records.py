"""The records the filters hand on, as zntr-print --dump-records shows them,
for a real package with tickets at every level; and a pipeline that lacks
its last filter still ends and says what was left behind."""
import json
import pathlib
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_support as e2e  # noqa: E402

# 3 documents, 5 pages; a shared document ticket; one page ticket shared by three pages.
MERGED = "xps/aspose-page/WorkingWithDocumentMerging/mergedXPSfiles.xps"


def merged_package():
    path = pathlib.Path(e2e.CORPUS or "") / MERGED
    return path if e2e.CORPUS and path.is_file() else None


class RecordsTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = pathlib.Path(tmp.name)

    def test_every_page_reaching_the_last_filter_has_its_record(self):
        package = merged_package()
        if not package:
            self.skipTest("no corpus package %s" % MERGED)
        dump = self.dir / "records.jsonl"
        run = e2e.run_zntr_print("--job-id", "57", "--dump-records", dump, package, self.dir / "out.xps")
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        lines = [json.loads(line) for line in dump.read_text().splitlines()]
        job, pages = lines[0], lines[1:]
        self.assertEqual((job["record"], job["published"]), ("job", True))
        self.assertEqual(len(job["layoutDetail"]), 4)
        self.assertEqual([p["page"] for p in pages], [1, 2, 3, 4, 5])
        self.assertEqual([p["pageNumber"] for p in pages], [1, 2, 3, 4, 5])
        self.assertEqual(len(pages[0]), 2 + 25)  # record, page and the 25 values
        # Letter, then A4, then three pages of a custom size given by parameters.
        self.assertEqual(job["firstPagePortrait"], 1)
        self.assertEqual([(p["pageWidth"], p["pageHeight"]) for p in pages],
                         [(5100, 6600), (4960, 7014), (5998, 4498), (5998, 4498), (5998, 4498)])
        self.assertEqual([p["pagePortrait"] for p in pages], [1, 0, 0, 0, 0])  # documents 2 and 3 are landscape
        self.assertEqual([p["settingsChanged"] for p in pages], [0, 1, 1, 0, 0])
        self.assertEqual({(p["sheetWidth"], p["sheetHeight"]) == (p["pageWidth"], p["pageHeight"]) for p in pages}, {True})

    def test_pipeline_without_its_last_filter_ends_and_says_why(self):
        build = pathlib.Path(e2e.ZNTR_PRINT).resolve().parent
        config = self.dir / "two-filters.xml"
        config.write_text(
            '<Filters>'
            '<Filter name="preprocess" library="%s" clsid="{71AEA54A-9F57-4829-827C-1764A32B79E7}"/>'
            '<Filter name="finishing" library="%s" clsid="{2C5D49BB-DAC5-47C8-A528-3CA5332CF24D}"/>'
            '</Filters>' % (build / "libZNTRFilterPreprocess.so", build / "libZNTRFilterFinishing.so"))
        sample = pathlib.Path(__file__).resolve().parents[2] / "data" / "samples" / "sample.xps"
        run = e2e.run_zntr_print("--pipeline", config, "--job-id", "9", sample, self.dir / "out.xps")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("property HALVANE-JobProperty-9 was published but no filter took it out", run.stderr)
        self.assertTrue((self.dir / "out.xps").is_file())


if __name__ == "__main__":
    e2e.main()
