"""zntr-config model: the sample data set's three models as the UI plug-in
loads them, in an inch country and a millimetre country, with the string
resource library built beside it, and the caches a second run takes."""
import argparse
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

ZNTR_CONFIG = None


class ConfigModelTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.state = pathlib.Path(tmp.name)

    def run_config(self, *args, lang="en_US.UTF-8"):
        env = dict(os.environ, ZNTR_STATE_DIR=str(self.state), LANG=lang)
        env.pop("LC_ALL", None)
        return subprocess.run([ZNTR_CONFIG, *args], capture_output=True, text=True, timeout=60, env=env)

    def model(self, name, lang="en_US.UTF-8"):
        run = self.run_config("--json", "model", name, lang=lang)
        self.assertEqual((run.returncode, run.stderr), (0, ""), name)
        return json.loads(run.stdout)

    def test_the_country_chooses_the_paper_list(self):
        # QV-2040's inch list comes whole from its CustomFile (16 papers, Letter first).
        us = self.model("Halvane QV-2040")
        de = self.model("Halvane QV-2040", lang="de_DE.UTF-8")
        self.assertEqual([p["id"] for p in us["papers"]][:3], [1, 5, 268])
        self.assertEqual(len(us["papers"]), 16)
        self.assertEqual([p["id"] for p in de["papers"]][:3], [9, 11, 70])
        self.assertEqual(len(de["papers"]), 22)
        self.assertEqual(us["papers"][0], {"id": 1, "name": "Letter", "size": [2159, 2794], "pixels": [2550, 3300],
                                           "sources": us["papers"][0]["sources"], "flags": 0})
        # The size-format free size of QV-4550 shows its size in the country's unit.
        free = [p["name"] for p in self.model("Halvane QV-4550")["papers"] if p["id"] == 263]
        self.assertEqual(len(free), 1)
        self.assertRegex(free[0], r"^Free Size \d+\.\d\d x \d+\.\d\d inch$")
        free = [p["name"] for p in self.model("Halvane QV-4550", lang="de_DE.UTF-8")["papers"] if p["id"] == 263]
        self.assertRegex(free[0], r"^Free Size \d+\.\d x \d+\.\d mm$")

    def test_each_model_reads_as_its_files_describe_it(self):
        mono = self.model("Halvane QV-2040")
        self.assertIn("Monochrome", mono["capabilityNames"])
        self.assertNotIn("Duplex", mono["capabilityNames"])
        self.assertEqual(mono["qualityRows"], [None, 5, 1, None])  # two quality levels
        self.assertEqual(mono["finisher"], 0)
        self.assertEqual([s["id"] for s in mono["sources"]], [7, 4, 1, 259])

        colour = self.model("Halvane QV-3560C")
        self.assertTrue({"A3Printer", "Duplex", "MKK", "TonerSave3", "Finisher"} <= set(colour["capabilityNames"]))
        self.assertEqual(colour["finisher"], 0x303)
        self.assertEqual(colour["qualityRows"], [8, 5, 1, 0])
        self.assertEqual([s["name"] for s in colour["sources"]],
                         ["Automatically Select", "Multi-Purpose Tray", "Tray 1", "Tray 2", "Tray 3", "Tray 4", "Tray 5"])
        self.assertEqual(colour["userSizeLimits"]["set"], "free-size")
        for media in colour["mediaTypes"]:
            self.assertTrue(media["name"], media)
            self.assertIn("Automatically Select", media["sources"], media)

        mid = self.model("Halvane QV-4550")
        self.assertEqual(mid["qualityRows"], [5, 3, 1, 0])
        self.assertEqual(len(mid["sources"]), 5)
        for model in (mono, colour, mid):
            self.assertEqual(len(model["stamps"]), 4)
            self.assertTrue(all(p["name"] and p["size"][0] > 0 for p in model["papers"]), model["model"])

    def test_text_output_and_caches(self):
        first = self.run_config("model", "Halvane QV-3560C")
        self.assertEqual(first.returncode, 0, first.stderr)
        self.assertTrue(first.stdout.startswith("Halvane QV-3560C\n"))
        for heading in ("capabilities 0x", "papers (inch list", "sources:", "media types (allowed sources):",
                        "qualities (resolution row, time-out):", "user-defined size (free-size limits)"):
            self.assertIn(heading, first.stdout)
        caches = sorted(self.state.rglob("*.cah"))
        self.assertEqual([p.name for p in caches], ["QV3560DF.cah", "ZNTRPAPR.cah"])
        written = [p.stat().st_mtime_ns for p in caches]
        # The second run takes the caches as they are: nothing is parsed or written again.
        second = self.run_config("model", "Halvane QV-3560C")
        self.assertEqual(second.stdout, first.stdout)
        self.assertEqual([p.stat().st_mtime_ns for p in caches], written)

    def test_an_unknown_model_is_an_error(self):
        run = self.run_config("model", "Halvane QV-9999")
        self.assertEqual(run.returncode, 1)
        self.assertRegex(run.stderr, r"names no model Halvane QV-9999")
        self.assertEqual(self.run_config("model").returncode, 2)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--zntr-config", required=True)
    args, rest = parser.parse_known_args()
    ZNTR_CONFIG = args.zntr_config
    sys.dont_write_bytecode = True
    unittest.main(argv=[sys.argv[0], *rest])
