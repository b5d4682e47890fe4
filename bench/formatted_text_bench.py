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
import subprocess
import sys
import tempfile
import time


def blank_page():
    """A PDF of one blank Letter page."""
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += f"{n} 0 obj\n{body}\nendobj\n".encode()
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for offset in offsets:
        out += f"{offset:010d} 00000 n \n".encode()
    out += f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    return bytes(out)


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
            f.write(blank_page())
        print(f"{args.text_runs} runs of formatted text on one page")
        times = {exe: [] for exe in args.exe}
        cpu = {exe: [] for exe in args.exe}
        for _ in range(args.runs):
            for k, exe in enumerate(args.exe):
                out = os.path.join(tmp, f"out{k}.pdf")
                before = os.times()
                start = time.perf_counter()
                r = subprocess.run([exe, f"--formatted-text={markup}", "--", source, out], capture_output=True, text=True)
                times[exe].append(time.perf_counter() - start)
                after = os.times()
                cpu[exe].append(after.children_user - before.children_user +
                                after.children_system - before.children_system)
                if r.returncode not in (0, 3):
                    sys.exit(f"{exe} failed ({r.returncode}): {r.stderr}")
        for exe in args.exe:
            print(f"  {exe}: {statistics.median(times[exe]):.3f} s wall, {statistics.median(cpu[exe]):.3f} s CPU")


if __name__ == "__main__":
    main()
