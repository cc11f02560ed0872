#!/usr/bin/env python3
"""Tests of the benchmark's host-side tools: the payload generator and the
results summary.   python3 -m unittest discover -s bench -p 'test_*.py'"""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_payload  # noqa: E402
import summarise  # noqa: E402

DEVICE_STEMS = {"CON", "PRN", "AUX", "NUL"} | {p + str(i) for p in ("COM", "LPT") for i in range(10)}


def tree(folder):
    """{relative name with backslashes: sha256} of every file below folder."""
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder).replace(os.sep, "\\")] = hashlib.sha256(f.read()).hexdigest()
    return found


class PayloadTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.zlib = os.path.join(self.scratch.name, "lib.dll")
        with open(self.zlib, "wb") as f:
            f.write(b"MZ stand-in library")

    def tearDown(self):
        self.scratch.cleanup()

    def make(self, name, size=2, seed=7):
        folder = os.path.join(self.scratch.name, name)
        return folder, make_payload.make(folder, size, seed, self.zlib)

    def test_same_seed_same_bytes_other_seed_other_bytes(self):
        first, _ = self.make("a")
        # A process of its own, with its own string hashing: nothing may hang
        # on the order of a set or a dict.
        second = os.path.join(self.scratch.name, "b")
        subprocess.run([sys.executable, make_payload.__file__, second, "2", "--seed", "7",
                        "--zlib", self.zlib], check=True, stdout=subprocess.DEVNULL)
        third, _ = self.make("c", seed=8)
        self.assertEqual(tree(first), tree(second))
        self.assertNotEqual(tree(first), tree(third))

    def test_folder_is_reused_until_its_settings_change(self):
        folder, made = self.make("p")
        self.assertTrue(made)
        before = os.stat(os.path.join(folder, "zlib1.dll")).st_mtime_ns
        self.assertFalse(self.make("p")[1])
        self.assertEqual(before, os.stat(os.path.join(folder, "zlib1.dll")).st_mtime_ns)
        self.assertTrue(self.make("p", size=3)[1])
        self.assertFalse(os.path.exists(folder + ".partial"))

    def test_size_layout_and_names_suit_the_packer(self):
        folder, _ = self.make("p", size=4)
        files = tree(folder)
        total = sum(os.path.getsize(os.path.join(folder, *n.split("\\"))) for n in files)
        target = 4 * make_payload.MIB
        self.assertLess(abs(total - target), target * 0.02 + 1024)
        self.assertIn("zlib1.dll", files)
        self.assertGreater(len(files), 20)
        self.assertTrue(any(n.count("\\") >= 3 for n in files), "no deep folder")
        lowered = set()
        for name in files:
            self.assertTrue(name.isascii() and name.isprintable() and len(name) < 100, name)
            for part in name.split("\\"):
                self.assertNotIn(part.split(".")[0].upper(), DEVICE_STEMS)
                self.assertFalse(part.endswith((".", " ")), name)
            self.assertNotIn(name.lower(), lowered, "names differing in case only")
            lowered.add(name.lower())

    def test_mix_has_text_binary_and_incompressible_parts(self):
        folder, _ = self.make("p", size=4)

        def ratio(*parts):
            with open(os.path.join(folder, *parts), "rb") as f:
                data = f.read()
            return len(zlib.compress(data, 9)) / len(data)

        self.assertLess(ratio("Logs", "server-history.log"), 0.5)
        self.assertGreater(ratio("Media", "intro.pak"), 0.99)
        self.assertTrue(0.05 < ratio("Engine.dll") < 0.95)


def lines(*text):
    return [t for block in text for t in block.strip().splitlines()]


BENCH = ("{size} {rep} BENCH archive=1048576 raw=100 inflated=2097152 extract_s={e} inflate_s={i} "
         "entries=10 extracted_files=10 extracted_bytes=2097252 verified={v} raised=0 boxes=0")


class SummaryTest(unittest.TestCase):
    def rows(self, text):
        runs = summarise.parse(text)
        return [summarise.summarise(size, runs[size]) for size in sorted(runs)]

    def test_best_and_median_come_from_whole_runs_only(self):
        text = [BENCH.format(size=8, rep=1, e=2.0, i=1.0, v=1),
                BENCH.format(size=8, rep=2, e=0.5, i=0.1, v=0),  # an incomplete unpacking
                BENCH.format(size=8, rep=3, e=4.0, i=1.5, v=1),
                BENCH.format(size=8, rep=4, e=3.0, i=1.2, v=1),
                "8 1 UNZIP unzip_s=4.0 status=0", "8 2 UNZIP unzip_s=1.0 status=9",
                "8 0 MEMORY source=proc private_before=1000 private_peak=3000 private_after=2000"
                " resident_before=0 resident_peak=0 hwm_before=0 hwm_after=0 samples=1 extract_s=1"
                " entries=10 extracted_files=10 extracted_bytes=2097252 verified=1 raised=0 boxes=0"]
        (row,) = self.rows(text)
        self.assertEqual((row["runs"], row["good"]), (4, 3))
        self.assertEqual((row["extract_best"], row["extract_median"]), (2.0, 3.0))
        self.assertEqual((row["inflate_best"], row["inflate_median"]), (1.0, 1.2))
        self.assertAlmostEqual(row["ratio"], 0.5)
        self.assertAlmostEqual(row["extract_rate"], 1.0)  # 2 MiB in 2 s
        self.assertEqual(row["unzip_best"], 4.0)  # the failed unzip does not count
        self.assertAlmostEqual(row["vs_unzip"], 0.5)
        self.assertEqual(row["private_growth"], 2000)
        report = summarise.report([row])
        self.assertIn("3 of 4 timed runs", report)
        self.assertIn("extraction/in-memory 0.50 (>= 0.70: MISSED)", report)
        self.assertIn("extraction/unzip 0.50x (<= 0.7x: met)", report)
        self.assertIn("(<= 1 MiB: met)", report)

    def test_sizes_without_figures_and_boxes_still_report(self):
        text = lines("""
            64 1 BOX Error: Error in unzip inflate 101
            64 1 BENCH archive=1 raw=1 inflated=-1 extract_s=0.1 inflate_s=0 entries=3 extracted_files=2 extracted_bytes=5 verified=0 raised=-1 boxes=1
            256 1 UNZIP unzip_s=2.5 status=0
            """)
        rows = self.rows(text)
        self.assertEqual([r["size"] for r in rows], [64, 256])
        report = summarise.report(rows)
        self.assertIn("64 MiB: 0 of 1 timed runs", report)
        self.assertIn("64 MiB: 1 message box(es) shown", report)
        self.assertIn("64 MiB: BOX Error: Error in unzip inflate 101", report)
        self.assertIn("2.500/2.500", report)

    def test_streams_are_told_apart_and_weighed(self):
        text = [BENCH.format(size=8, rep=1, e=2.0, i=1.0, v=1) + " streams=libdeflate12",
                BENCH.format(size=8, rep=1, e=2.2, i=1.1, v=1) + " streams=zlib9",
                BENCH.format(size=8, rep=2, e=1.9, i=1.0, v=1) + " streams=zlib9",
                BENCH.format(size=8, rep=2, e=9.0, i=1.0, v=0) + " streams=zlib9",
                "8 0 SIZE streams=libdeflate12 archive=970 installer=1070 pack_s=3.0",
                "8 0 SIZE streams=zlib9 archive=1000 installer=1100 pack_s=-",
                "8 0 SIZE streams=nsis installer=1080"]
        (row,) = self.rows(text)
        self.assertEqual((row["runs"], row["extract_best"]), (1, 2.0))
        self.assertEqual((row["z9_extract_best"], row["z9_failed"]), (1.9, 1))
        self.assertAlmostEqual(row["vs_zlib9"], 2.0 / 1.9)
        self.assertAlmostEqual(row["smaller"], 0.03)
        self.assertAlmostEqual(row["vs_nsis_size"], 1070 / 1080)
        self.assertNotIn("z9_pack_s", row)
        report = summarise.report([row])
        self.assertIn("archive 3.00% smaller than with zlib 9 streams (>= 2%: met)", report)
        self.assertIn("installer 1070 bytes, NSIS installer 1080 (smaller: met)", report)
        self.assertIn("(<= 1.02: MISSED)", report)
        self.assertIn("1 zlib9 run(s) did not unpack", report)


if __name__ == "__main__":
    unittest.main()
