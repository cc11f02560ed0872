#!/usr/bin/env python3
"""Tests of talvorn-bench under Wine: that it times only whole extractions,
says so when one is not, and measures its own process's memory.

Needs a build folder where scripts/bench.sh has built the program, and the
Wine environment of scripts/wine-env.sh:
    . scripts/wine-env.sh <build>; TALVORN_BENCH_BUILD=<build> \\
        python3 -m unittest discover -s bench -p 'test_bench_program.py'
Skipped without TALVORN_BENCH_BUILD.
"""
import os
import random
import shutil
import struct
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("TALVORN_BENCH_BUILD", "")
PROGRAM = os.path.join(BUILD, "bench", "prog", "talvorn-bench.exe")
PACKER = os.path.join(BUILD, "tools", "talvorn-pack")


def _cached(name):
    """A value of the build folder's CMake cache ("" when absent)."""
    try:
        with open(os.path.join(BUILD, "CMakeCache.txt")) as cache:
            for line in cache:
                key, _, value = line.rstrip("\n").partition("=")
                if key.split(":")[0] == name:
                    return value
    except OSError:
        pass
    return ""


# The zlib1.dll of the build's bitness, which the packer is told.
ZLIB = _cached("TALVORN_ZLIB_DLL")
MACHINE = "x64" if "x86_64" in ZLIB else "x86"


def windows(path):
    return "Z:" + path.replace("/", "\\")


@unittest.skipUnless(BUILD and os.path.exists(PROGRAM), "set TALVORN_BENCH_BUILD after a bench build")
class BenchProgramTest(unittest.TestCase):
    def setUp(self):
        # Below the build folder: the same disk as the benchmark's own runs.
        self.scratch = tempfile.mkdtemp(prefix="bench-test-", dir=os.path.join(BUILD, "bench"))

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def pack(self, name, files):
        """Packs {relative name: bytes} plus zlib1.dll; returns the archive path."""
        folder = os.path.join(self.scratch, name)
        for relative, data in files.items():
            path = os.path.join(folder, *relative.split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        shutil.copyfile(ZLIB, os.path.join(folder, "zlib1.dll"))
        archive = folder + ".bin"
        subprocess.run([PACKER, "pack", folder, archive, "--machine", MACHINE], check=True)
        return archive

    def run_program(self, *args):
        """The program's output lines and its {key: value} line."""
        run = os.path.join(self.scratch, "run")
        shutil.rmtree(run, ignore_errors=True)
        done = subprocess.run(["wine", PROGRAM, args[0], windows(args[1]), windows(run)] + list(args[2:]),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout)
        lines = done.stdout.splitlines()
        tagged = [l for l in lines if l.startswith(("BENCH ", "MEMORY "))]
        self.assertEqual(len(tagged), 1, done.stdout)
        return lines, dict(p.split("=", 1) for p in tagged[0].split()[1:])

    def test_whole_extraction_is_verified_and_counted(self):
        files = {"readme.txt": b"hello\r\n" * 300, "Docs\\A\\B\\deep.txt": b"deep",
                 "Docs\\empty.txt": b"", "big.bin": bytes(range(250)) * 1000}
        archive = self.pack("small", files)
        for order in ("inflate-first", "extract-first"):
            _, result = self.run_program("time", archive, order)
            self.assertEqual(result["verified"], "1", result)
            self.assertEqual(result["boxes"], "0")
            self.assertEqual(int(result["entries"]), 5)
            self.assertEqual(int(result["inflated"]), sum(len(d) for d in files.values()))
            self.assertGreater(float(result["extract_s"]), 0)
            self.assertGreater(float(result["inflate_s"]), 0)

    def test_damaged_stream_is_shown_and_not_verified(self):
        archive = self.pack("damaged", {"a.txt": b"some text " * 5000})
        with open(archive, "r+b") as f:
            data = bytearray(f.read())
            # The second entry's stream: past zlib1.dll's header, name and bytes.
            raw_size, name_size = struct.unpack_from("<II", data, 0)
            stream = 8 + name_size + raw_size + 8 + len("a.txt")
            data[stream + 20] ^= 0xFF
            f.seek(0)
            f.write(data)
        lines, result = self.run_program("time", archive, "extract-first")
        self.assertEqual(result["verified"], "0")
        self.assertTrue(any(l.startswith("BOX ") for l in lines), lines)

    def test_memory_is_read_from_its_own_process(self):
        # Two archives 8 MiB apart in size: the program holds its archive in
        # memory, so its baseline must differ by about as much.
        noise = random.Random(3).randbytes(8 << 20)
        small = self.pack("m1", {"x.txt": b"x"})
        large = self.pack("m2", {"x.txt": b"x", "noise.bin": noise})
        _, first = self.run_program("memory", small)
        _, second = self.run_program("memory", large)
        self.assertEqual(first["verified"], "1")
        self.assertEqual(second["verified"], "1")
        grown = float(second["private_before"]) - float(first["private_before"])
        self.assertGreater(grown, 7 << 20, (first, second))
        self.assertGreaterEqual(float(second["private_peak"]), float(second["private_before"]))


if __name__ == "__main__":
    unittest.main()
