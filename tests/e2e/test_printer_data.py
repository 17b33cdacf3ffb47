"""Printer data set, listed and deleted by hand with zntr-print, kept per
printer under ZNTR_STATE_DIR between runs."""
import os
import pathlib
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_support as e2e  # noqa: E402


class PrinterDataTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = pathlib.Path(tmp.name)
        self.old_state = os.environ.get("ZNTR_STATE_DIR")
        os.environ["ZNTR_STATE_DIR"] = str(self.dir / "state")
        self.addCleanup(self.restore)

    def restore(self):
        if self.old_state is None:
            os.environ.pop("ZNTR_STATE_DIR", None)
        else:
            os.environ["ZNTR_STATE_DIR"] = self.old_state

    def zntr(self, *args):
        return e2e.run_zntr_print("--printer", "Office 2", *args)

    def test_values_round_trip_between_runs(self):
        (self.dir / "records.bin").write_bytes(bytes(range(72)) + b"\x01\x02")
        cases = [  # (what is set, how it is listed)
            ("HalvPrinterData=dword:0x8", "HalvPrinterData=dword:8"),
            ("TimeOutInfo=dword:4294967295", "TimeOutInfo=dword:4294967295"),
            ("SelectableFeedDirectInfo=binary:00ff10", "SelectableFeedDirectInfo=binary:00ff10"),
            ("RotationInfo=binary@%s" % (self.dir / "records.bin"), "RotationInfo=binary:" + (bytes(range(72)) + b"\x01\x02").hex()),
            ("Note=string:caf\u00e9", "Note=string:caf\u00e9"),
        ]
        for given, _ in cases:
            run = self.zntr("--set-printer-data", given)
            self.assertEqual((run.returncode, run.stderr), (0, ""), given)
        listed = self.zntr("--list-printer-data")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual(listed.stdout.splitlines(), sorted(shown for _, shown in cases))

        self.assertEqual(self.zntr("--delete-printer-data", "Note").returncode, 0)
        missing = self.zntr("--delete-printer-data", "Note")
        self.assertEqual(missing.returncode, 1)
        self.assertIn("no such value", missing.stderr)
        self.assertNotIn("Note=", self.zntr("--list-printer-data").stdout)
        # Another printer has none of them.
        other = e2e.run_zntr_print("--printer", "Office 3", "--list-printer-data")
        self.assertEqual((other.returncode, other.stdout), (0, ""))

    def test_malformed_values_are_usage_errors(self):
        for given in ["NoEquals", "=dword:1", "X=dword:", "X=dword:12ab", "X=dword:4294967296", "X=binary:0",
                      "X=binary:zz", "X=float:1.5", "X=binary@/no/such/file"]:
            with self.subTest(given):
                run = self.zntr("--set-printer-data", given)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertEqual(run.stdout, "")
        self.assertEqual(self.zntr("--list-printer-data", "in.xps").returncode, 2)  # these run no job


if __name__ == "__main__":
    e2e.main()
