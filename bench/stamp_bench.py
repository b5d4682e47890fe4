#!/usr/bin/env python3
"""Times --stamp over a document of 250 pages and reports the size of each embedded font
program (decoded, and as stored), for one or more builds of the converter side by side.

The Western and Cyrillic cases stamp every page with its number, so a subset holds the
glyphs of all pages' text (the Chinese face has no digits). Runs alternate between the
builds; the median wall time and the CPU time (user + system) are printed.

Usage: stamp_bench.py --exe PATH [--exe PATH ...] [--runs N] [--pages N]"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

CASES = [
    ("Latin", "--stamp='Page <%PageNo%> of <%TotPage%>' --embed=subset --"),
    ("Cyrillic", "--stamp='Страница <%PageNo%> из <%TotPage%>' --embed=subset --"),
    ("Chinese, five characters", "--stamp='中文字体测' --font='Droid Sans Fallback' --embed=subset --"),
    ("CFF face, Latin", "--stamp='Page <%PageNo%>' --font='Nimbus Sans' --embed=subset --"),
]


def document(pages):
    """A PDF of pages blank pages of A4, each with a line of Helvetica."""
    objects = {1: "<< /Type /Catalog /Pages 2 0 R >>", 3: "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}
    kids = []
    for i in range(pages):
        page, content = 10 + 2 * i, 11 + 2 * i
        data = f"BT /H 12 Tf 72 720 Td (Original page {i + 1}) Tj ET"
        objects[page] = (f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
                         f"/Resources << /Font << /H 3 0 R >> >> /Contents {content} 0 R >>")
        objects[content] = f"<< /Length {len(data)} >>\nstream\n{data}\nendstream"
        kids.append(f"{page} 0 R")
    objects[2] = f"<< /Type /Pages /Kids [{' '.join(kids)}] /Count {pages} >>"
    out = bytearray(b"%PDF-1.4\n")
    offsets = {}
    for n in sorted(objects):
        offsets[n] = len(out)
        out += f"{n} 0 obj\n{objects[n]}\nendobj\n".encode()
    size = max(objects) + 1
    xref = len(out)
    out += f"xref\n0 {size}\n0000000000 65535 f \n".encode()
    for n in range(1, size):
        out += (f"{offsets[n]:010d} 00000 n \n" if n in offsets else "0000000000 65535 f \n").encode()
    out += f"trailer\n<< /Size {size} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    return bytes(out)


def timed(command):
    """(wall seconds, CPU seconds of user + system) of one conversion, a shell text or an
    argument list; the bench stops when it fails."""
    before = os.times()
    start = time.perf_counter()
    r = subprocess.run(command, shell=isinstance(command, str), capture_output=True, text=True)
    wall = time.perf_counter() - start
    after = os.times()
    if r.returncode not in (0, 3):
        sys.exit(f"{command} failed ({r.returncode}): {r.stderr}")
    return wall, after.children_user - before.children_user + after.children_system - before.children_system


def programs(pdf):
    """(name, decoded size, stored size) of each embedded font program, through qpdf."""
    j = json.loads(subprocess.run(["qpdf", "--json", "--json-stream-data=none", pdf],
                                  capture_output=True, text=True).stdout)
    objects = j["qpdf"][1]
    found = []
    for value in objects.values():
        v = value.get("value")
        if not isinstance(v, dict) or "/FontName" not in v:
            continue
        for key in ("/FontFile", "/FontFile2", "/FontFile3"):
            if key in v:
                ref = v[key].split()[0]
                stored = objects[f"obj:{ref} 0 R"]["stream"]["dict"].get("/Length")
                data = subprocess.run(["qpdf", f"--show-object={ref}", "--filtered-stream-data", pdf],
                                      capture_output=True).stdout
                found.append((v["/FontName"], len(data), stored))
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", action="append", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--pages", type=int, default=250)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="pw-stamp-bench-") as tmp:
        source = os.path.join(tmp, "in.pdf")
        with open(source, "wb") as f:
            f.write(document(args.pages))
        for name, options in CASES:
            print(f"{name} ({args.pages} pages)")
            times = {exe: [] for exe in args.exe}
            cpu = {exe: [] for exe in args.exe}
            for _ in range(args.runs):
                for k, exe in enumerate(args.exe):
                    out = os.path.join(tmp, f"out{k}.pdf")
                    wall, used = timed(f"{exe} {options} {source} {out}")
                    times[exe].append(wall)
                    cpu[exe].append(used)
            for k, exe in enumerate(args.exe):
                fonts = ", ".join(f"{n} {d} B ({s} B stored)" for n, d, s in programs(os.path.join(tmp, f"out{k}.pdf")))
                print(f"  {exe}: {statistics.median(times[exe]):.3f} s wall, "
                      f"{statistics.median(cpu[exe]):.3f} s CPU; {fonts}")


if __name__ == "__main__":
    main()
