#!/usr/bin/env python3
# Writes the deep-* seeds of fuzz/seeds/loadsave: files nested past each of the walk's
# depth bounds (page tree, outlines, name tree, form fields, direct values) and a long
# chain of references, so the sanitizer build replays every bound.
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds", "loadsave")
N = 700


def build(objs, trailer):
    parts = [b"%PDF-1.4\n"]
    pos = len(parts[0])
    offs = {}
    for n, body in objs:
        offs[n] = pos
        s = b"%d 0 obj\n" % n + body + b"\nendobj\n"
        parts.append(s)
        pos += len(s)
    size = max(offs) + 1
    parts.append(b"xref\n0 %d\n0000000000 65535 f \n" % size)
    for n in range(1, size):
        parts.append((b"%010d 00000 n \n" % offs[n]) if n in offs else b"0000000000 00000 f \n")
    parts.append(b"trailer\n<< /Size %d " % size + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % pos)
    return b"".join(parts)


def write(name, objs, trailer=b"/Root 1 0 R"):
    with open(os.path.join(HERE, "deep-%s.pdf" % name), "wb") as f:
        f.write(build(objs, trailer))


def base(catalog_extra):
    return [(1, b"<< /Type /Catalog /Pages 2 0 R " + catalog_extra + b" >>"),
            (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
            (3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>")]


write("refchain", base(b"/Extra 4 0 R") + [(n, b"[%d 0 R]" % (n + 1)) for n in range(4, 4 + N)] + [(4 + N, b"null")])
write("pages", [(1, b"<< /Type /Catalog /Pages 2 0 R >>")] +
      [(n, b"<< /Type /Pages /Kids [%d 0 R] /Count 1 >>" % (n + 1)) for n in range(2, 2 + N)] +
      [(2 + N, b"<< /Type /Page /MediaBox [0 0 10 10] >>")])
write("outlines", base(b"/Outlines 4 0 R") +
      [(n, b"<< /Title (x) /First %d 0 R /Last %d 0 R /Count 1 >>" % (n + 1, n + 1)) for n in range(4, 4 + N)] +
      [(4 + N, b"<< /Title (leaf) >>")])
write("names", base(b"/Names << /Dests 4 0 R >>") +
      [(n, b"<< /Kids [%d 0 R] >>" % (n + 1)) for n in range(4, 4 + N)] +
      [(4 + N, b"<< /Names [(a) [3 0 R /Fit]] >>")])
write("fields", base(b"/AcroForm << /Fields [4 0 R] >>") +
      [(n, b"<< /T (f%d) /Kids [%d 0 R] >>" % (n, n + 1)) for n in range(4, 4 + N)] +
      [(4 + N, b"<< /T (leaf) /FT /Tx /V (v) >>")])
nested = b"[" * 510 + b"1" + b"]" * 510
write("nested", base(b"/Extra 4 0 R /More 5 0 R")[:2] +
      [(3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Annots [<< /Subtype /Link /Rect [0 0 1 1]"
           b" /A << /S /GoTo /D " + nested + b" >> >>] >>"),
       (4, nested), (5, b"<< /a " * 510 + b"1" + b" >>" * 510)],
      b"/Root 1 0 R /Info << /Title " + nested + b" >>")
