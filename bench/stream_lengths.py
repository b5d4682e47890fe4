#!/usr/bin/env python3
"""Stream lengths that do not end at their stream's "endstream", against
pagewright-convert: prints, per file, its size, the exit status, wall time and the size
of the output.

  gap           1,000 content streams whose /Length all land in one 8 MiB run of
                white space at the end of the body (the table is sound)
  gap-repair    the same with startxref pointing nowhere, so the file is repaired
  overlong      1,000 pages whose content /Length all reach past their own
                "endstream" into the trailer (each page drawing its own line)
  later         1,000 pages whose content /Length each lands exactly on the next
                page's "endstream"
  later-repair  the same with startxref pointing nowhere

Sound behaviour: time linear in the file, each page's content its own (the output about
the size of the input).

Usage: stream_lengths.py --exe PATH [--dir DIR] [--only name,name]"""
import argparse
import os
import subprocess
import sys
import time

MIB = 1024 * 1024
NAMES = ["gap", "gap-repair", "overlong", "later", "later-repair"]


def pdf(objects, root, repair):
    """A file of (number, body) objects with a classic table; with repair, a wrong startxref."""
    out = bytearray(b"%PDF-1.4\n")
    offsets = {}
    for number, body in objects:
        offsets[number] = len(out)
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    table = len(out)
    size = max(offsets) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for n in range(1, size):
        out += b"%010d 00000 n \n" % offsets[n] if n in offsets else b"0000000000 00000 f \n"
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, root, 999999999 if repair else table)
    return bytes(out)


def pages(count, content, lengths, tail=b""):
    """Catalog 1, page tree 2, pages 10 + 2k with content 11 + 2k; lengths(k, data) gives
    the /Length written (nine digits, patched afterwards when it depends on offsets)."""
    font = b"<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>"
    kids = b" ".join(b"%d 0 R" % (10 + 2 * k) for k in range(count))
    objects = [(1, b"<< /Type /Catalog /Pages 2 0 R >>"), (2, b"<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, count))]
    for k in range(count):
        objects.append((10 + 2 * k, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources %s "
                                    b"/Contents %d 0 R >>" % (font, 11 + 2 * k)))
        objects.append((11 + 2 * k, b"<< /Length %s >>\nstream\n" % lengths(k, content(k)) + content(k) + b"endstream"))
    if tail:
        objects.append((11 + 2 * count, tail))
    return objects


def patch_lengths(data, count, target):
    """Sets each content stream's nine-digit /Length so that its data reach target(data, k)."""
    data = bytearray(data)
    for k in range(count):
        head = data.index(b"\n%d 0 obj\n<< /Length " % (11 + 2 * k)) + 1
        field = data.index(b"/Length ", head) + 8
        start = data.index(b"stream\n", field) + 7
        data[field:field + 9] = b"%09d" % (target(data, k) - start)
    return bytes(data)


def make(name):
    line = lambda k: b"BT /F1 12 Tf 72 700 Td (page %d) Tj ET\n" % (k + 1)
    repair = name.endswith("-repair")
    if name.startswith("gap"):
        count = 1000
        # The run of white space is an object of its own (a string of spaces would be
        # data); it stands after every stream, and each /Length lands at its start.
        run = b"null" + b" " * (8 * MIB)
        objects = pages(count, line, lambda k, d: b"000000000", tail=run)
        data = pdf(objects, 1, repair)
        begin = data.index(b"null" + b" " * 16) + 4
        return patch_lengths(data, count, lambda d, k: begin)
    if name == "overlong":
        count = 1000
        data = pdf(pages(count, line, lambda k, d: b"000000000"), 1, repair)
        trailer = data.rindex(b"trailer")
        return patch_lengths(data, count, lambda d, k: trailer)
    count = 1000
    data = pdf(pages(count, line, lambda k, d: b"000000000"), 1, repair)
    # Each length lands on the next page's "endstream" (the last page's is its own).
    ends = []
    at = 0
    while True:
        at = data.find(b"endstream", at + 1)
        if at < 0:
            break
        ends.append(at)
    return patch_lengths(data, count, lambda d, k: ends[min(k + 1, count - 1)])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--dir", default=os.environ.get("PW_LENGTHS_DIR", "/tmp/pw-lengths"))
    parser.add_argument("--only", default=",".join(NAMES))
    parser.add_argument("--timeout", type=float, default=300)
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    print(f"{'file':14} {'input':>10} {'exit':>5} {'seconds':>8} {'output':>12}")
    for name in args.only.split(","):
        if name not in NAMES:
            sys.exit(f"unknown input {name}")
        src = os.path.join(args.dir, name + ".pdf")
        if not os.path.exists(src):
            with open(src, "wb") as f:
                f.write(make(name))
        out = os.path.join(args.dir, "out-" + name + ".pdf")
        if os.path.exists(out):
            os.remove(out)
        began = time.monotonic()
        try:
            status = subprocess.run([args.exe, "--quiet", src, out], timeout=args.timeout).returncode
        except subprocess.TimeoutExpired:
            status = "time"
        seconds = time.monotonic() - began
        size = os.path.getsize(out) if os.path.exists(out) else 0
        print(f"{name:14} {os.path.getsize(src):>10} {status:>5} {seconds:>8.2f} {size:>12}", flush=True)


if __name__ == "__main__":
    main()
