#!/usr/bin/env python3
"""Turns the raw lines of scripts/bench.sh into its closing table.

    summarise.py <results file>

Each line is "<size> <rep> <TAG> key=value ...", TAG being BENCH (one timed
extraction and in-memory inflate, from talvorn-bench), MEMORY (one sampled
extraction), UNZIP (one native unzip of the same folder), NSIS (one run of an
NSIS installer of it), NSIS_START (one run of that installer carrying
nothing) or SIZE (an archive and the installer around it, or the NSIS
installer); any other tag (a message box, a complaint) is shown as it is.
BENCH, MEMORY and SIZE lines say by streams= which kind of stream they
measure: the packer's own (libdeflate12, or none said) or zlib's level 9
(zlib9). Prints figures only: the goals are reported as met or missed, never
enforced.
"""
import statistics
import sys

MIB = float(1 << 20)
GOAL_RATIO = 0.70    # extraction speed / in-memory inflate speed, at least
GOAL_MEMORY = MIB    # growth during the extraction, at most
GOAL_VS_UNZIP = 0.7  # extraction time / unzip time, at most
GOAL_VS_NSIS = 1.0   # NSIS installer's time / extraction time, above
GOAL_SMALLER = 0.02  # the archive smaller than with zlib 9 streams, at least
GOAL_VS_ZLIB9 = 1.02  # extraction time / with zlib 9 streams, at most (noise)
TAGS = ("BENCH", "MEMORY", "UNZIP", "NSIS", "NSIS_START", "SIZE")
ZLIB9 = "zlib9"


def parse(lines):
    """{size: {"BENCH": [dict...], "MEMORY": [...], ..., "other": [...]}}"""
    runs = {}
    for line in lines:
        parts = line.split()
        if len(parts) < 3:
            continue
        size, tag = int(parts[0]), parts[2]
        group = runs.setdefault(size, dict({t: [] for t in TAGS}, other=[]))
        if tag in TAGS:
            fields = dict(p.split("=", 1) for p in parts[3:] if "=" in p)
            group[tag].append({k: _number(v) for k, v in fields.items()})
        else:
            group["other"].append(" ".join(parts[2:]))
    return runs


def _number(text):
    try:
        return float(text)
    except ValueError:
        return text


def _extraction(timed):
    """Best and median times of whole runs, and what follows from them."""
    if not timed:
        return {}
    first = timed[0]
    extract = [r["extract_s"] for r in timed]
    inflate = [r["inflate_s"] for r in timed]
    row = dict(archive=first["archive"], inflated=first["inflated"],
               entries=int(first["entries"]),
               extract_best=min(extract), extract_median=statistics.median(extract),
               inflate_best=min(inflate), inflate_median=statistics.median(inflate))
    row["extract_rate"] = row["inflated"] / MIB / row["extract_best"]
    row["inflate_rate"] = row["inflated"] / MIB / row["inflate_best"]
    row["ratio"] = row["inflate_best"] / row["extract_best"]
    row["ratio_median"] = row["inflate_median"] / row["extract_median"]
    # What each entry costs beyond inflating its bytes: files, directories,
    # log lines, writes.
    row["per_entry_ms"] = (row["extract_median"] - row["inflate_median"]) * 1000 / row["entries"]
    return row


def _growth(memory):
    return max(r["private_peak"] - r["private_before"] for r in memory) if memory else None


def _sizes(row, sizes):
    """The archives and installers of each kind of stream, and the NSIS one."""
    for r in sizes:
        kind = r.get("streams")
        if kind == "nsis":
            row["nsis_installer"] = r["installer"]
            continue
        prefix = "z9_" if kind == ZLIB9 else ""
        row[prefix + "archive_bytes"] = r["archive"]
        row[prefix + "installer"] = r["installer"]
        if isinstance(r.get("pack_s"), float):
            row[prefix + "pack_s"] = r["pack_s"]
    if "archive_bytes" in row and "z9_archive_bytes" in row:
        row["smaller"] = 1 - row["archive_bytes"] / row["z9_archive_bytes"]
    if "installer" in row and "nsis_installer" in row:
        row["vs_nsis_size"] = row["installer"] / row["nsis_installer"]


def summarise(size, group):
    """The row of one payload size; None figures where no run gave them."""
    def ours(r):
        return r.get("streams") != ZLIB9

    bench = [r for r in group["BENCH"] if ours(r)]
    timed = [r for r in bench if r.get("verified") == 1]
    row = {"size": size, "runs": len(bench), "good": len(timed),
           "boxes": sum(int(r.get("boxes", 0)) for r in group["BENCH"] + group["MEMORY"]),
           "notes": group["other"]}
    row.update(_extraction(timed))
    z9_bench = [r for r in group["BENCH"] if not ours(r)]
    z9 = [r for r in z9_bench if r.get("verified") == 1]
    row["z9_failed"] = len(z9_bench) - len(z9)
    for key, value in _extraction(z9).items():
        row["z9_" + key] = value
    if "extract_best" in row and "z9_extract_best" in row:
        row["vs_zlib9"] = row["extract_best"] / row["z9_extract_best"]
        row["vs_zlib9_median"] = row["extract_median"] / row["z9_extract_median"]
    _sizes(row, group["SIZE"])
    z9_memory = [r for r in group["MEMORY"] if not ours(r) and r.get("verified") == 1]
    if z9_memory:
        row["z9_private_growth"] = _growth(z9_memory)
    memory = [r for r in group["MEMORY"] if ours(r) and r.get("verified") == 1]
    if memory:
        row["memory_source"] = memory[0]["source"]
        row["private_growth"] = _growth(memory)
        row["resident_growth"] = max(r["resident_peak"] - r["resident_before"] for r in memory)
        row["hwm_growth"] = max(r["hwm_after"] - r["hwm_before"] for r in memory)
        if all("private_before_log" in r for r in memory):
            row["log_memory"] = max(r["private_before"] - r["private_before_log"] for r in memory)
    unzip = [r["unzip_s"] for r in group["UNZIP"] if r.get("status") == 0]
    if unzip:
        row["unzip_best"], row["unzip_median"] = min(unzip), statistics.median(unzip)
        if "extract_best" in row:
            row["vs_unzip"] = row["extract_best"] / row["unzip_best"]
    # The peer's time less what starting it costs: a run that left every entry
    # unpacked, less the best run of the installer carrying nothing.
    starts = [r["start_s"] for r in group["NSIS_START"] if r.get("status") == 0]
    peer = [r["nsis_s"] for r in group["NSIS"]
            if r.get("status") == 0 and r.get("files") == row.get("entries")]
    if peer and starts:
        row["nsis_start"] = min(starts)
        row["nsis_best"] = min(peer) - row["nsis_start"]
        row["nsis_median"] = statistics.median(peer) - row["nsis_start"]
        if "extract_best" in row:
            row["vs_nsis"] = row["nsis_best"] / row["extract_best"]
    row["nsis_failed"] = len(group["NSIS"]) - len(peer)
    return row


def _fmt(row, key, pattern, scale=1.0):
    return pattern % (row[key] / scale) if key in row else "-"


def _goal(met):
    return "met" if met else "MISSED"


def table(rows):
    head = ("payload", "entries", "archive", "inflated", "extract s best/med",
            "extract MiB/s", "in-mem MiB/s", "extr/in-mem", "ms/entry",
            "mem growth", "unzip s best/med", "extr/unzip", "NSIS s best/med",
            "NSIS/ours")
    out = [head]
    for row in rows:
        out.append((
            "%d MiB" % row["size"], _fmt(row, "entries", "%d"),
            _fmt(row, "archive", "%.1f MiB", MIB), _fmt(row, "inflated", "%.1f MiB", MIB),
            _fmt(row, "extract_best", "%.3f") + "/" + _fmt(row, "extract_median", "%.3f"),
            _fmt(row, "extract_rate", "%.1f"), _fmt(row, "inflate_rate", "%.1f"),
            _fmt(row, "ratio", "%.2f"), _fmt(row, "per_entry_ms", "%.2f"),
            _fmt(row, "private_growth", "%.2f MiB", MIB),
            _fmt(row, "unzip_best", "%.3f") + "/" + _fmt(row, "unzip_median", "%.3f"),
            _fmt(row, "vs_unzip", "%.2fx"),
            _fmt(row, "nsis_best", "%.3f") + "/" + _fmt(row, "nsis_median", "%.3f"),
            _fmt(row, "vs_nsis", "%.2f")))
    return _aligned(out)


def _aligned(out):
    widths = [max(len(r[i]) for r in out) for i in range(len(out[0]))]
    lines = ["  ".join(cell.rjust(w) for cell, w in zip(r, widths)) for r in out]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)


def streams_table(rows):
    """Size next to time: each kind of stream, and the NSIS installer."""
    out = [("payload", "archive zlib9", "archive ours", "smaller", "installer zlib9",
            "installer ours", "NSIS installer", "ours/NSIS", "pack s zlib9/ours",
            "zlib9 extract s best/med", "ours/zlib9 time", "zlib9 mem growth")]
    for row in rows:
        out.append((
            "%d MiB" % row["size"], _fmt(row, "z9_archive_bytes", "%d"),
            _fmt(row, "archive_bytes", "%d"), _fmt(row, "smaller", "%.2f%%", 0.01),
            _fmt(row, "z9_installer", "%d"), _fmt(row, "installer", "%d"),
            _fmt(row, "nsis_installer", "%d"), _fmt(row, "vs_nsis_size", "%.4f"),
            _fmt(row, "z9_pack_s", "%.1f") + "/" + _fmt(row, "pack_s", "%.1f"),
            _fmt(row, "z9_extract_best", "%.3f") + "/" + _fmt(row, "z9_extract_median", "%.3f"),
            _fmt(row, "vs_zlib9", "%.3f"), _fmt(row, "z9_private_growth", "%.2f MiB", MIB)))
    return _aligned(out)


def report(rows):
    text = [table(rows), "", streams_table(rows), ""]
    for row in rows:
        label = "%d MiB:" % row["size"]
        if row["good"] < row["runs"] or not row["runs"]:
            text.append("%s %d of %d timed runs unpacked the whole payload" % (label, row["good"], row["runs"]))
        if row["nsis_failed"]:
            text.append("%s %d NSIS run(s) did not unpack every entry" % (label, row["nsis_failed"]))
        if row["boxes"]:
            text.append("%s %d message box(es) shown" % (label, row["boxes"]))
        for note in row["notes"][:5]:
            text.append("%s %s" % (label, note))
        goals = []
        if "ratio" in row:
            goals.append("extraction/in-memory %.2f (>= %.2f: %s)" % (
                row["ratio"], GOAL_RATIO, _goal(row["ratio"] >= GOAL_RATIO)))
        if "private_growth" in row:
            measure = "RssAnon" if row["memory_source"] == "proc" else "PrivateUsage"
            goals.append("memory growth %.2f MiB %s, resident %.2f MiB, peak resident %.2f MiB"
                         " (<= 1 MiB: %s)" % (
                             row["private_growth"] / MIB, measure, row["resident_growth"] / MIB,
                             row["hwm_growth"] / MIB, _goal(row["private_growth"] <= GOAL_MEMORY)))
            if "log_memory" in row:
                goals.append("opening the log (its thread) %.2f MiB %s, before the growth" % (
                    row["log_memory"] / MIB, measure))
        if "vs_unzip" in row:
            goals.append("extraction/unzip %.2fx (<= %.1fx: %s)" % (
                row["vs_unzip"], GOAL_VS_UNZIP, _goal(row["vs_unzip"] <= GOAL_VS_UNZIP)))
        if "vs_nsis" in row:
            goals.append("NSIS/ours %.2f, NSIS start %.3f s taken off (above %.1f: %s)" % (
                row["vs_nsis"], row["nsis_start"], GOAL_VS_NSIS, _goal(row["vs_nsis"] > GOAL_VS_NSIS)))
        if row["z9_failed"]:
            text.append("%s %d zlib9 run(s) did not unpack the whole payload" % (label, row["z9_failed"]))
        if "smaller" in row:
            goals.append("archive %.2f%% smaller than with zlib 9 streams (>= %.0f%%: %s)" % (
                row["smaller"] * 100, GOAL_SMALLER * 100, _goal(row["smaller"] >= GOAL_SMALLER)))
        if "vs_nsis_size" in row:
            goals.append("installer %d bytes, NSIS installer %d (smaller: %s)" % (
                row["installer"], row["nsis_installer"], _goal(row["vs_nsis_size"] < 1)))
        if "vs_zlib9" in row:
            goals.append("extraction time / with zlib 9 streams %.3f best, %.3f median (<= %.2f: %s)" % (
                row["vs_zlib9"], row["vs_zlib9_median"], GOAL_VS_ZLIB9,
                _goal(row["vs_zlib9"] <= GOAL_VS_ZLIB9)))
        if "z9_private_growth" in row and "private_growth" in row:
            goals.append("memory growth %.2f MiB, with zlib 9 streams %.2f MiB" % (
                row["private_growth"] / MIB, row["z9_private_growth"] / MIB))
        for goal in goals:
            text.append("%s %s" % (label, goal))
    return "\n".join(text)


def main(argv):
    if len(argv) != 1:
        print(__doc__.strip().split("\n\n")[1].strip())
        return 2
    with open(argv[0]) as f:
        runs = parse(f)
    print(report([summarise(size, runs[size]) for size in sorted(runs)]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
