#!/usr/bin/env python3
"""Decompression bombs against pagewright-convert: small files whose form-field values,
object streams or cross-reference streams inflate to about 1000 MiB each. Prints, per
file, its size, the exit status, wall time, peak memory (maximum resident set size as
/usr/bin/time -v reports it) and the converter's last line of output.

  field-shared   three form fields whose /V names one 1000 MiB stream (1 MB file)
  field-four     four fields, each with its own 1000 MiB /V stream (4 MB file)
  objstm         one object stream that decodes to 1000 MiB (1 MB file)
  objstm-three   three such object streams in one file (3 MB)
  xref           a cross-reference stream that decodes to 1000 MiB (1 MB file)
  objstm-padded  objstm and xref in 9 MB files (8 MB of unused random bytes added), so
  xref-padded    that the decoding budget of the file passes the cap of one stream

The files are made once into --dir (default /tmp/pw-bombs) from python3's standard
library alone; making the compressed data takes a few seconds the first time.

Usage: bombs.py --exe PATH [--dir DIR] [--only name,name]"""
import argparse
import os
import re
import subprocess
import sys
import time
import zlib

MIB = 1024 * 1024
BOMB_SIZE = 1000 * MIB
NAMES = ["field-shared", "field-four", "objstm", "objstm-three", "xref", "objstm-padded", "xref-padded"]
PADDING = 8 * MIB


def deflate_repeated(head, fill, total):
    """zlib data of head followed by the byte fill up to total bytes, made piecewise."""
    z = zlib.compressobj(9)
    out = [z.compress(head)]
    block = fill * MIB
    left = total - len(head)
    while left > 0:
        n = min(left, MIB)
        out.append(z.compress(block[:n]))
        left -= n
    out.append(z.flush())
    return b"".join(out)


class Pdf:
    """Numbered objects with their offsets; a classic table or a cross-reference stream."""

    def __init__(self):
        self.data = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
        self.offsets = {}

    def obj(self, num, body):
        self.offsets[num] = len(self.data)
        self.data += b"%d 0 obj\n%s\nendobj\n" % (num, body)

    def stream(self, num, head, data):
        self.offsets[num] = len(self.data)
        self.data += b"%d 0 obj\n<< %s /Length %d >>\nstream\n" % (num, head, len(data))
        self.data += data + b"\nendstream\nendobj\n"

    def table(self, root=1):
        size = max(self.offsets) + 1
        xref = len(self.data)
        self.data += b"xref\n0 %d\n0000000000 65535 f\r\n" % size
        for n in range(1, size):
            if n in self.offsets:
                self.data += b"%010d 00000 n\r\n" % self.offsets[n]
            else:
                self.data += b"0000000000 65535 f\r\n"
        self.data += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, root, xref)
        return bytes(self.data)

    def xref_stream(self, num, in_objstm, root=1):
        """A cross-reference stream (object num) over every object, plus type-2 entries
        for in_objstm: {object number: (stream number, index)}."""
        size = max(max(self.offsets), max(in_objstm or {0: 0}), num) + 1
        rows = []
        xref = len(self.data)
        for n in range(size):
            if n == num:
                rows.append((1, xref, 0))
            elif n in self.offsets:
                rows.append((1, self.offsets[n], 0))
            elif n in in_objstm:
                rows.append((2, in_objstm[n][0], in_objstm[n][1]))
            else:
                rows.append((0, 0, 0))
        body = b"".join(bytes([t]) + f.to_bytes(4, "big") + g.to_bytes(2, "big") for t, f, g in rows)
        self.offsets[num] = xref
        self.data += b"%d 0 obj\n<< /Type /XRef /Size %d /W [1 4 2] /Root %d 0 R /Length %d >>\nstream\n" % (
            num, size, root, len(body))
        self.data += body + b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % xref
        return bytes(self.data)


def page_objects(pdf, acroform=b""):
    pdf.obj(1, b"<< /Type /Catalog /Pages 2 0 R %s>>" % acroform)
    pdf.obj(2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
    pdf.obj(3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>")


def make(name, zeros, objstm_data):
    pdf = Pdf()
    if name.endswith("-padded"):
        # Referenced by nothing, so never read; it only makes the file larger.
        name = name[:-len("-padded")]
        pdf.stream(8, b"", os.urandom(PADDING))
    if name in ("field-shared", "field-four"):
        count = 3 if name == "field-shared" else 4
        fields = list(range(20, 20 + count))
        page_objects(pdf, b"/AcroForm << /Fields [%s] >> " % b" ".join(b"%d 0 R" % f for f in fields))
        for i, f in enumerate(fields):
            value = 10 if name == "field-shared" else 10 + i
            pdf.obj(f, b"<< /FT /Tx /T (f%d) /V %d 0 R >>" % (i, value))
        for v in sorted({10 if name == "field-shared" else 10 + i for i in range(count)}):
            pdf.stream(v, b"/Filter /FlateDecode", zeros)
        return pdf.table()
    if name in ("objstm", "objstm-three"):
        page_objects(pdf)
        streams = [10] if name == "objstm" else [10, 11, 12]
        for s in streams:
            pdf.stream(s, b"/Type /ObjStm /N 1 /First 6 /Filter /FlateDecode", objstm_data)
        return pdf.xref_stream(30, {20 + i: (s, 0) for i, s in enumerate(streams)})
    if name == "xref":
        page_objects(pdf)
        xref = len(pdf.data)
        pdf.data += b"9 0 obj\n<< /Type /XRef /Size 10 /W [1 4 2] /Root 1 0 R /Filter /FlateDecode /Length %d >>\n" \
                    b"stream\n" % len(zeros)
        pdf.data += zeros + b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % xref
        return bytes(pdf.data)
    raise SystemExit(f"unknown bomb {name}")


def ensure(directory, names):
    os.makedirs(directory, exist_ok=True)
    paths = {n: os.path.join(directory, n + ".pdf") for n in names}
    missing = [n for n in names if not os.path.exists(paths[n])]
    if missing:
        print("making the compressed data ...", file=sys.stderr, flush=True)
        zeros = deflate_repeated(b"", b"\0", BOMB_SIZE)
        # An object stream's list ("20 0 ") and its object, then spaces.
        objstm_data = deflate_repeated(b"20 0  null ", b" ", BOMB_SIZE)
        for n in missing:
            with open(paths[n] + ".part", "wb") as f:
                f.write(make(n, zeros, objstm_data))
            os.rename(paths[n] + ".part", paths[n])
    return paths


def run(exe, src, out):
    argv = ["/usr/bin/time", "-v", exe, src, out]
    start = time.perf_counter()
    r = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    err = r.stderr.decode(errors="replace")
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", err)
    status = re.search(r"Exit status: (\d+)", err)
    signal = re.search(r"Command terminated by signal (\d+)", err)
    own = [l for l in err.splitlines() if l.startswith("pagewright-convert")]
    if os.path.exists(out):
        os.unlink(out)
    code = f"signal {signal.group(1)}" if signal else (status.group(1) if status else "?")
    return code, wall, int(peak.group(1)) * 1024 if peak else 0, own[-1] if own else ""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--exe", required=True, help="pagewright-convert to run")
    ap.add_argument("--dir", default=os.environ.get("PW_BOMB_DIR", "/tmp/pw-bombs"))
    ap.add_argument("--only", help="comma-separated subset of: " + ", ".join(NAMES))
    args = ap.parse_args()
    names = args.only.split(",") if args.only else NAMES
    for n in names:
        if n not in NAMES:
            sys.exit(f"unknown bomb {n}")
    paths = ensure(args.dir, names)
    exe = os.path.abspath(args.exe)
    print(f"{'file':<14} {'size':>8} {'exit':>6} {'wall':>8} {'peak':>10}  message")
    for n in names:
        out = os.path.join(args.dir, n + ".out.pdf")
        code, wall, peak, message = run(exe, paths[n], out)
        size = os.path.getsize(paths[n])
        print(f"{n:<14} {size / MIB:6.2f}MB {code:>6} {wall:7.2f}s {peak / MIB:8.1f}MiB  {message}", flush=True)


if __name__ == "__main__":
    main()
