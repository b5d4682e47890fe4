#!/usr/bin/env python3
"""Writes a PDF with one page whose /Annots names COUNT small annotation objects,
with a classic cross-reference table. Usage: many-objects.py COUNT OUT.pdf"""
import sys

count, out = int(sys.argv[1]), sys.argv[2]
first = 4
parts = [b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n"]
offsets = {}
written = len(parts[0])

def add(num, body):
    global written
    offsets[num] = written
    parts.append(b"%d 0 obj\n%s\nendobj\n" % (num, body))
    written += len(parts[-1])

add(1, b"<< /Type /Catalog /Pages 2 0 R >>")
add(2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
annots = b" ".join(b"%d 0 R" % n for n in range(first, first + count))
add(3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [" + annots + b"] >>")
for n in range(first, first + count):
    add(n, b"<< /Type /Annot /Subtype /Text /Rect [10 10 30 30] /Contents (Note %d) /P 3 0 R >>" % n)
size = first + count
xref = written
table = [b"xref\n0 %d\n0000000000 65535 f\r\n" % size]
table += [b"%010d 00000 n\r\n" % offsets[n] for n in range(1, size)]
table.append(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, xref))
with open(out, "wb") as f:
    f.write(b"".join(parts + table))
