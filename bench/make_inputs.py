#!/usr/bin/env python3
"""Writes the benchmark's input files, byte for byte the same on every run, from
python3's standard library alone (qpdf then derives the object-stream and RC4 forms).

  make_inputs.py objects PAGES OUT.pdf    PAGES pages of 8 small objects each
  make_inputs.py images PAGES OUT.pdf     PAGES pages, each one 1338x1338 RGB Flate image
  make_inputs.py bigimage OUT.pdf         one page, one 12993x12993 RGB image (483 MiB)
  make_inputs.py rawimages PAGES OUT.pdf  PAGES pages, each one 1024x1024 RGB image stored
                                          without a filter, photo-like (zlib keeps about four
                                          fifths): the input of save-time compression

Every file has a classic cross-reference table."""
import random
import sys
import zlib


class Writer:
    """Writes numbered objects in order and remembers their offsets."""

    def __init__(self, path, version=b"1.5"):
        self.f = open(path, "wb")
        self.offsets = {}
        self.put(b"%PDF-" + version + b"\n%\xe2\xe3\xcf\xd3\n")

    def put(self, data):
        self.f.write(data)

    def obj(self, num, body):
        self.offsets[num] = self.f.tell()
        self.put(b"%d 0 obj\n%s\nendobj\n" % (num, body))

    def stream(self, num, head, chunks, length):
        """A stream whose data come in chunks (never held whole); length is their sum."""
        self.offsets[num] = self.f.tell()
        self.put(b"%d 0 obj\n<< %s /Length %d >>\nstream\n" % (num, head, length))
        written = 0
        for chunk in chunks:
            self.put(chunk)
            written += len(chunk)
        assert written == length, (written, length)
        self.put(b"\nendstream\nendobj\n")

    def close(self, size, root=1):
        xref = self.f.tell()
        lines = [b"xref\n0 %d\n0000000000 65535 f\r\n" % size]
        lines += [b"%010d 00000 n\r\n" % self.offsets[n] for n in range(1, size)]
        lines.append(b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, root, xref))
        self.put(b"".join(lines))
        self.f.close()


class PageTree:
    """Catalog 1 and root node 2 at once; pages from 3 on, each followed by its
    objects_per_page - 1 own objects; one intermediate node per 100 pages after them,
    written by finish()."""

    def __init__(self, w, pages, objects_per_page):
        self.w = w
        self.pages = page_numbers = [3 + objects_per_page * i for i in range(pages)]
        node_first = 3 + objects_per_page * pages
        self.groups = [page_numbers[i:i + 100] for i in range(0, len(page_numbers), 100)]
        self.nodes = list(range(node_first, node_first + len(self.groups)))
        self.size = node_first + len(self.nodes)
        self.parent = {p: node for node, group in zip(self.nodes, self.groups) for p in group}
        w.obj(1, b"<< /Type /Catalog /Pages 2 0 R >>")
        w.obj(2, b"<< /Type /Pages /Kids [%s] /Count %d >>"
              % (b" ".join(b"%d 0 R" % n for n in self.nodes), len(page_numbers)))

    def finish(self):
        for node, group in zip(self.nodes, self.groups):
            self.w.obj(node, b"<< /Type /Pages /Parent 2 0 R /Kids [%s] /Count %d >>"
                       % (b" ".join(b"%d 0 R" % p for p in group), len(group)))
        self.w.close(self.size)


def objects(pages, out):
    # Per page: the page, its content stream, resources, font, graphics state and three
    # annotations; numbers 3 .. 3 + 8 * pages - 1, then the intermediate page-tree nodes.
    w = Writer(out)
    tree = PageTree(w, pages, 8)
    parent = tree.parent
    for i, page in enumerate(tree.pages):
        content, res, font, gs, a1, a2, a3 = range(page + 1, page + 8)
        w.obj(page, b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Resources %d 0 R "
              b"/Contents %d 0 R /Annots [%d 0 R %d 0 R %d 0 R] >>" % (parent[page], res, content, a1, a2, a3))
        text = (b"q 0.%03d 0 0 rg /G1 gs BT /F1 24 Tf 72 720 Td (Page %d of %d) Tj ET "
                b"72 72 468 %d.5 re S Q" % (i % 1000, i + 1, pages, 100 + i % 500))
        data = zlib.compress(text, 6)
        w.stream(content, b"/Filter /FlateDecode", [data], len(data))
        w.obj(res, b"<< /Font << /F1 %d 0 R >> /ExtGState << /G1 %d 0 R >> /ProcSet [/PDF /Text] >>" % (font, gs))
        w.obj(font, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
        w.obj(gs, b"<< /Type /ExtGState /CA 0.%d /ca 0.%d /LW 1.25 >>" % (5 + i % 4, 5 + i % 5))
        for k, a in enumerate((a1, a2, a3)):
            x = 40 + 150 * k
            w.obj(a, b"<< /Type /Annot /Subtype /Text /Rect [%d 700 %d 720] /Contents (Note %d.%d) "
                  b"/P %d 0 R /C [1 0.%d 0] /F 4 >>" % (x, x + 20, i + 1, k + 1, page, k * 3))
    tree.finish()


def noise_chunks(seed, total, chunk=1 << 22):
    """total pseudo-random bytes as stored (level 0) deflate data, one chunk at a time:
    noise does not compress, and level 0 keeps making the files quick."""
    rng = random.Random(seed)
    comp = zlib.compressobj(0)
    left = total
    while left:
        n = min(chunk, left)
        out = comp.compress(rng.randbytes(n))
        left -= n
        if out:
            yield out
    yield comp.flush()


def stored_deflate_length(total, chunk=1 << 22):
    # zlib header 2 + per stored block (at most 65535 bytes) 5 bytes + adler32 4: computed
    # here by compressing zeros the same way, which gives the same block layout.
    comp = zlib.compressobj(0)
    n = 0
    left = total
    while left:
        k = min(chunk, left)
        n += len(comp.compress(bytes(k)))
        left -= k
    return n + len(comp.flush())


def image_pages(w, pages, width, height, image_data, filter_entry=b""):
    """Pages that each draw one width x height RGB image; image_data(i) gives page i's
    data as (chunks, length)."""
    tree = PageTree(w, pages, 3)
    parent = tree.parent
    for i, page in enumerate(tree.pages):
        content, image = page + 1, page + 2
        w.obj(page, b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 612] "
              b"/Resources << /XObject << /Im1 %d 0 R >> >> /Contents %d 0 R >>" % (parent[page], image, content))
        text = b"q 612 0 0 612 0 0 cm /Im1 Do Q"
        w.stream(content, b"", [text], len(text))
        chunks, length = image_data(i)
        w.stream(image, b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB "
                 b"/BitsPerComponent 8" % (width, height) + filter_entry, chunks, length)
    tree.finish()


def noise_images(w, pages, width, height):
    size = width * height * 3
    length = stored_deflate_length(size)
    image_pages(w, pages, width, height, lambda i: (noise_chunks(1 + i, size), length), b" /Filter /FlateDecode")


def raw_images(w, pages, width, height):
    # Smooth rows with four bits of noise: zlib finds few repeats but still shrinks them,
    # as with photographs; each page its own seed, so no page repeats another.
    low_bits = bytes(b & 0x0F for b in range(256))

    def data(i):
        rng = random.Random(1000 + i)
        gradient = bytes((x // 24 + i * 7) & 0xF0 for x in range(width * 3))

        def rows():
            for _ in range(height // 64):
                noise = rng.randbytes(width * 3 * 64).translate(low_bits)
                yield bytes(a | b for a, b in zip(gradient * 64, noise))
        return rows(), width * height * 3
    image_pages(w, pages, width, height, data)


def main():
    kind = sys.argv[1]
    if kind == "objects":
        objects(int(sys.argv[2]), sys.argv[3])
    elif kind == "images":
        noise_images(Writer(sys.argv[3]), int(sys.argv[2]), 1338, 1338)
    elif kind == "rawimages":
        raw_images(Writer(sys.argv[3]), int(sys.argv[2]), 1024, 1024)
    elif kind == "bigimage":
        noise_images(Writer(sys.argv[2]), 1, 12993, 12993)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
