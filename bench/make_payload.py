#!/usr/bin/env python3
"""Makes a deterministic benchmark payload folder of about SIZE MiB.

    make_payload.py <folder> <size-MiB> --zlib PATH [--seed N]

The mix stands in for a product installer: compressible text (prose, log
lines, records), binary-like files (PE files of this machine, lightly altered
so that no two copies are the same; structured pseudo-binary when there are
none) and incompressible random bytes. Many small files spread over nested
folders, a few large ones, and "zlib1.dll" at the top, as the packer needs.

The same seed, size and machine give the same bytes. The folder is reused
when its stamp (seed, size, this script's digest) still matches.
"""
import argparse
import glob
import hashlib
import os
import random
import shutil
import sys

MIB = 1 << 20
# Folders where Debian keeps 32-bit Windows binaries; the first that exist
# feed the binary-like share.
PE_SOURCES = [
    "/usr/lib/i386-linux-gnu/wine/i386-windows/*.dll",
    "/usr/lib/i386-linux-gnu/wine/i386-windows/*.exe",
    "/usr/i686-w64-mingw32/lib/*.dll",
    "/usr/lib/gcc/i686-w64-mingw32/*/*.dll",
]
SMALL_FOLDERS = [
    "", "Docs", "Docs\\Guides", "Docs\\Guides\\Advanced", "Templates",
    "Templates\\Labels", "Templates\\Labels\\Metric", "Data", "Data\\Locale",
    "Data\\Locale\\en-GB", "Data\\Locale\\de-DE", "Plugins",
    "Plugins\\Filters", "Plugins\\Filters\\Legacy", "Media\\Icons",
    "Media\\Sounds", "Help\\Topics\\Reference",
]
# Shares of the total: (kind, small files, large files).
SHARES = [("text", 0.22, 0.18), ("binary", 0.20, 0.15), ("random", 0.05, 0.20)]
LARGE_NAMES = {
    "text": ["Logs\\server-history.log", "Data\\catalogue.csv"],
    "binary": ["Engine.dll"],
    "random": ["Media\\intro.pak", "Media\\textures.pak"],
}
EXTENSIONS = {
    "text": [".txt", ".log", ".xml", ".ini", ".csv"],
    "binary": [".dll", ".exe", ".ocx"],
    "random": [".png", ".dat", ".bin"],
}


class Generator:
    def __init__(self, seed, size_mib):
        self.rng = random.Random(seed * 100003 + size_mib)
        self.words, self.weights = self._vocabulary()
        self.pe_pool = self._pe_pool()

    def _vocabulary(self):
        syllables = ["ta", "vor", "ne", "li", "ker", "san", "do", "ph", "ri",
                     "mon", "el", "qu", "as", "tri", "ben", "ul", "xo", "gra"]
        words = set()
        while len(words) < 4000:
            words.add("".join(self.rng.choices(syllables, k=self.rng.randint(1, 4))))
        words = sorted(words)
        self.rng.shuffle(words)
        # Zipf-like: a few words carry most of the text, as in real prose.
        total, cumulative = 0.0, []
        for rank in range(len(words)):
            total += 1.0 / (rank + 1)
            cumulative.append(total)
        return words, cumulative

    def _pe_pool(self):
        found = []
        for pattern in PE_SOURCES:
            found += [p for p in glob.glob(pattern) if 16 * 1024 <= os.path.getsize(p) <= MIB]
        return sorted(set(found))

    def _words(self, count):
        return self.rng.choices(self.words, cum_weights=self.weights, k=count)

    def text(self, size):
        style = self.rng.randrange(3)
        lines, length, stamp = [], 0, self.rng.randrange(10 ** 9)
        while length < size:
            batch = self._words(4096)
            pos = 0
            while pos < len(batch) - 16 and length < size:
                n = self.rng.randint(4, 14)
                words = batch[pos:pos + n]
                pos += n
                stamp += self.rng.randint(1, 5000)
                if style == 0:
                    line = " ".join(words).capitalize() + "."
                elif style == 1:
                    level = ("INFO ", "DEBUG", "WARN ", "ERROR")[stamp % 7 % 4]
                    line = "%010d.%03d [%s] %s: %s id=%d" % (
                        stamp // 1000, stamp % 1000, level, words[0],
                        " ".join(words[1:]), self.rng.randrange(100000))
                else:
                    line = "%d;%s;%s;%d.%02d" % (
                        stamp, words[0], " ".join(words[1:3]),
                        self.rng.randrange(10000), self.rng.randrange(100))
                lines.append(line)
                length += len(line) + 2
        return ("\r\n".join(lines) + "\r\n").encode("ascii")[:size]

    def binary(self, size):
        """PE files back to back, each altered here and there like a rebuild."""
        out = bytearray()
        while len(out) < size:
            if self.pe_pool:
                with open(self.rng.choice(self.pe_pool), "rb") as f:
                    piece = bytearray(f.read())
            else:
                piece = self._pseudo_binary(min(size - len(out), 512 * 1024))
            for at in range(0, len(piece) - 64, 4096):
                span = self.rng.randint(4, 32)
                where = at + self.rng.randrange(4096 - span)
                if where + span <= len(piece):
                    piece[where:where + span] = self.rng.randbytes(span)
            out += piece
        return bytes(out[:size])

    def _pseudo_binary(self, size):
        # Records of small integers and a skewed byte alphabet: compresses
        # about as well as machine code.
        alphabet = self.rng.randbytes(48)
        weights = [1.0 / (i + 1) for i in range(len(alphabet))]
        body = bytes(self.rng.choices(alphabet, weights=weights, k=size))
        return bytearray(body)

    def random(self, size):
        return self.rng.randbytes(size)

    def small_size(self, kind):
        low, high = {"text": (256, 128 * 1024), "binary": (16 * 1024, MIB),
                     "random": (1024, 256 * 1024)}[kind]
        return int(low * (high / low) ** self.rng.random())


def plan_files(gen, total):
    """(name, kind, size) for every file but zlib1.dll, in a fixed order."""
    files, serial = [], 0
    for kind, small_share, large_share in SHARES:
        budget = int(total * small_share)
        while budget > 0:
            size = min(gen.small_size(kind), budget)
            folder = gen.rng.choice(SMALL_FOLDERS)
            serial += 1
            name = "%s-%05d%s" % (kind[:3], serial, gen.rng.choice(EXTENSIONS[kind]))
            files.append(((folder + "\\" if folder else "") + name, kind, size))
            budget -= size
        large = LARGE_NAMES[kind]
        for i, name in enumerate(large):
            # Split the large share unevenly: 60/40 for two files.
            part = 1.0 if len(large) == 1 else (0.6 if i == 0 else 0.4)
            files.append((name, kind, int(total * large_share * part)))
    files.append(("Docs\\empty.txt", "text", 0))
    return files


def stamp_text(seed, size_mib, zlib_path):
    with open(__file__, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()[:16]
    return "seed=%d size=%d zlib=%s generator=%s\n" % (seed, size_mib, zlib_path, digest)


def make(folder, size_mib, seed, zlib_path):
    stamp_path = folder.rstrip("/") + ".stamp"
    stamp = stamp_text(seed, size_mib, zlib_path)
    if os.path.isdir(folder) and os.path.exists(stamp_path):
        with open(stamp_path) as f:
            if f.read() == stamp:
                return False
    partial = folder.rstrip("/") + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    shutil.copyfile(zlib_path, os.path.join(partial, "zlib1.dll"))
    gen = Generator(seed, size_mib)
    for name, kind, size in plan_files(gen, size_mib * MIB):
        path = os.path.join(partial, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(getattr(gen, kind)(size))
    shutil.rmtree(folder, ignore_errors=True)
    os.rename(partial, folder)
    with open(stamp_path, "w") as f:
        f.write(stamp)
    return True


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("size_mib", type=int)
    parser.add_argument("--seed", type=int, default=1729)
    # The build's own, of its bitness (scripts/bench.sh reads it from the build).
    parser.add_argument("--zlib", required=True)
    args = parser.parse_args(argv)
    made = make(args.folder, args.size_mib, args.seed, args.zlib)
    print("%s %s" % ("made" if made else "reused", args.folder))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
