#!/usr/bin/env python3
# Writes fuzz/seeds/repair: small files whose cross-reference data a load must rebuild
# (startxref wrong, cut short, junk before the header, table blanked, objects only in an
# object stream, a /Prev loop, a later table freeing an object). fuzz/run.sh adds cut and
# shifted copies of the small corpus files when it runs the target.
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds", "repair")

OBJS = [
    (1, b"<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R >>"),
    (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
    (3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>"),
    (4, b"<< /Length 17 >>\nstream\n0 0 m 10 10 l S\nendstream"),
    (5, b"<< /Title (Seed) >>"),
    (6, b"<< /Type /Outlines /Count 0 >>"),
]


def build(objs, trailer=b"/Root 1 0 R /Info 5 0 R", header=b"%PDF-1.4\n"):
    out = bytearray(header)
    offs = {}
    for n, body in objs:
        offs[n] = len(out)
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    size = max(offs) + 1
    out += b"xref\n0 %d\n0000000000 65535 f\r\n" % size
    for n in range(1, size):
        out += (b"%010d 00000 n\r\n" % offs[n]) if n in offs else b"0000000000 00000 f\r\n"
    out += b"trailer\n<< /Size %d " % size + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % xref
    return bytes(out), xref


def main():
    os.makedirs(HERE, exist_ok=True)
    sound, xref = build(OBJS)
    trailer = sound.index(b"trailer")
    objstm_data = b"2 0 3 44 " + OBJS[1][1] + b" " + OBJS[2][1]
    packed = [OBJS[0], (7, b"<< /Type /ObjStm /N 2 /First 9 /Length %d >>\nstream\n" % len(objstm_data)
                        + objstm_data + b"\nendstream"), OBJS[3], OBJS[4], OBJS[5]]
    seeds = {
        "startxref-wrong.pdf": sound[: sound.rindex(b"startxref")] + b"startxref\n7\n%%EOF\n",
        "cut-in-table.pdf": sound[: xref + 30],
        "cut-in-stream.pdf": sound[: sound.index(b"endstream") - 3],
        "junk-before-header.pdf": b"junk line\r\n" + sound,
        "table-blanked.pdf": sound[:xref] + b" " * (trailer - xref) + sound[trailer:],
        "objstm-only.pdf": build(packed)[0].replace(b"startxref\n", b"startxref\n1"),
        "prev-loop.pdf": sound.replace(b"/Root 1 0 R", b"/Prev %d /Root 1 0 R" % xref),
        "freed-later.pdf": sound[: sound.rindex(b"startxref")]
        + b"xref\n5 1\n0000000000 00001 f\r\ntrailer\n<< /Size 7 /Root 1 0 R >>\n",
    }
    for name, data in seeds.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
