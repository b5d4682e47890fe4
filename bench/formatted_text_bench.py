#!/usr/bin/env python3
"""Times --formatted-text with many runs of text on one page, for one or more builds of
the converter side by side: each run of a formatting is a font made and stamped, so the
time per run is what this measures (the face must not be read again for every run).

Runs alternate between the builds; the median wall time and the CPU time (user + system)
are printed.

Usage: formatted_text_bench.py --exe PATH [--exe PATH ...] [--runs N] [--text-runs N]"""
import argparse
import os
import statistics
import tempfile

from stamp_bench import document, timed  # the page writer and the timing of one run


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", action="append", required=True)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--text-runs", type=int, default=4000, help="runs of text in the markup (even)")
    args = ap.parse_args()
    # Bold and plain in turn: every run is a font change.
    markup = "<B>x</B>y" * (args.text_runs // 2)
    with tempfile.TemporaryDirectory(prefix="pw-formatted-bench-") as tmp:
        source = os.path.join(tmp, "in.pdf")
        with open(source, "wb") as f:
            f.write(document(1))
        print(f"{args.text_runs} runs of formatted text on one page")
        times = {exe: [] for exe in args.exe}
        cpu = {exe: [] for exe in args.exe}
        for _ in range(args.runs):
            for k, exe in enumerate(args.exe):
                out = os.path.join(tmp, f"out{k}.pdf")
                wall, used = timed([exe, f"--formatted-text={markup}", "--", source, out])
                times[exe].append(wall)
                cpu[exe].append(used)
        for exe in args.exe:
            print(f"  {exe}: {statistics.median(times[exe]):.3f} s wall, {statistics.median(cpu[exe]):.3f} s CPU")


if __name__ == "__main__":
    main()
