#!/usr/bin/env python3
"""Converts every corpus file with two builds of pagewright-convert and compares the
outputs byte for byte, so a change meant to be faster is shown to write the same bytes.
Files that neither build converts are skipped. An encrypted output gets a freshly
generated owner password (and with it /O, /U, /ID and a new key) on each save, so two
encrypted outputs are compared by what qpdf decrypts them to, with the same length.

Usage: compare_corpus.py OLD_EXE NEW_EXE [CORPUS_DIR]   (default ../shared/corpus)"""
import csv
import os
import re
import subprocess
import sys
import tempfile


def passwords(corpus):
    """File name -> user password named in MANIFEST.tsv (when it names a non-empty one)."""
    found = {}
    manifest = os.path.join(corpus, "MANIFEST.tsv")
    if not os.path.exists(manifest):
        return found
    with open(manifest, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            m = re.search(r'user=(\S+)', row.get("encryption") or "")
            if m and m.group(1) != '""':
                found[row["file"]] = m.group(1)
    return found


def convert(exe, src, dst, password):
    argv = [exe, "--quiet"] + (["--password=" + password] if password else []) + [src, dst]
    r = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=600)
    return r.returncode, r.stderr.decode(errors="replace").strip()


def decrypted(path, password):
    """What qpdf decrypts an output to, written the same way every time."""
    out = path + ".dec"
    r = subprocess.run(["qpdf", "--static-id", "--decrypt", "--password=" + (password or ""), path, out],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    data = open(out, "rb").read() if r.returncode in (0, 3) else b"qpdf failed"
    if os.path.exists(out):
        os.unlink(out)
    # The producer text is written unencrypted into an encrypted file, so it decrypts to
    # bytes that follow the fresh key: not something either build chose.
    return re.sub(rb"/Producer\s*<[0-9a-fA-F]*>", b"/Producer", data)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    old, new = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    here = os.path.dirname(os.path.abspath(__file__))
    corpus = sys.argv[3] if len(sys.argv) > 3 else os.path.join(here, "..", "..", "shared", "corpus")
    pw = passwords(corpus)
    same = differ = skipped = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name in sorted(os.listdir(corpus)):
            if not name.lower().endswith(".pdf"):
                continue
            src = os.path.join(corpus, name)
            a, b = os.path.join(tmp, "old.pdf"), os.path.join(tmp, "new.pdf")
            for p in (a, b):
                if os.path.exists(p):
                    os.unlink(p)
            ca, ea = convert(old, src, a, pw.get(name))
            cb, eb = convert(new, src, b, pw.get(name))
            if ca not in (0, 3) and cb not in (0, 3):
                skipped += 1
                if ea != eb:
                    print(f"FAILS DIFFERENTLY {name}:\n  old: {ea}\n  new: {eb}")
                    differ += 1
                continue
            if (ca in (0, 3)) != (cb in (0, 3)):
                print(f"DIFFERS {name}: old exit {ca}, new exit {cb} ({ea or eb})")
                differ += 1
                continue
            da, db = open(a, "rb").read(), open(b, "rb").read()
            if da != db and len(da) == len(db) and b"/Encrypt" in da[-2048:]:
                da, db = decrypted(a, pw.get(name)), decrypted(b, pw.get(name))
            if da == db and ca == cb:
                same += 1
            else:
                print(f"DIFFERS {name}: exit {ca}/{cb}, {len(da)}/{len(db)} bytes")
                differ += 1
    print(f"{same} identical, {differ} different, {skipped} not converted by either build")
    sys.exit(1 if differ else 0)


if __name__ == "__main__":
    main()
